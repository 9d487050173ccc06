#include "cli/Output.h"

#include "conversion/OperationCatalogue.h"

#include <QJsonArray>
#include <QJsonDocument>

#include <algorithm>

namespace quorvel::cli {

QString statusWord(qint64 status) {
    switch (status) {
    case 0:
        return QStringLiteral("Converting");
    case 1:
        return QStringLiteral("Completed");
    case 2:
        return QStringLiteral("Failed");
    default:
        return QStringLiteral("Unknown (%1)").arg(status);
    }
}

namespace {

bool isWide(char32_t c) {
    // East Asian wide and full-width ranges, enough for file names and the catalogue.
    return (c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) ||
           (c >= 0x3041 && c <= 0x33FF) || (c >= 0x3400 && c <= 0x4DBF) ||
           (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xA000 && c <= 0xA4CF) ||
           (c >= 0xAC00 && c <= 0xD7A3) || (c >= 0xF900 && c <= 0xFAFF) ||
           (c >= 0xFE30 && c <= 0xFE4F) || (c >= 0xFF00 && c <= 0xFF60) ||
           (c >= 0xFFE0 && c <= 0xFFE6) || (c >= 0x1F300 && c <= 0x1F64F) ||
           (c >= 0x1F900 && c <= 0x1F9FF) || (c >= 0x20000 && c <= 0x3FFFD);
}

bool isZeroWidth(char32_t c) {
    const QChar::Category cat = QChar::category(c);
    return cat == QChar::Mark_NonSpacing || cat == QChar::Mark_Enclosing ||
           cat == QChar::Other_Format;
}

} // namespace

int displayWidth(const QString &text) {
    int width = 0;
    for (const char32_t c : text.toUcs4()) {
        if (isZeroWidth(c))
            continue;
        width += isWide(c) ? 2 : 1;
    }
    return width;
}

QString cellText(const QString &text) {
    QString out;
    out.reserve(text.size());
    for (const QChar c : text)
        out += (c.category() == QChar::Other_Control) ? QChar(u'?') : c;
    return out;
}

QString alignedColumns(const QList<QStringList> &rows) {
    QList<int> widths;
    for (const QStringList &row : rows)
        for (qsizetype i = 0; i < row.size(); ++i) {
            if (widths.size() <= i)
                widths.append(0);
            widths[i] = qMax(widths[i], displayWidth(row[i]));
        }
    QString out;
    for (const QStringList &row : rows) {
        QString line;
        // Empty cells at the end of a row leave no trailing blanks.
        qsizetype used = row.size();
        while (used > 0 && row[used - 1].isEmpty())
            --used;
        for (qsizetype i = 0; i < used; ++i) {
            line += row[i];
            if (i + 1 < used)
                line += QString(widths[i] - displayWidth(row[i]) + 2, u' ');
        }
        out += line + u'\n';
    }
    return out;
}

QString jobTable(const QList<ConversionTask> &tasks) {
    // Why a job failed and what a completed one tells are last columns, there only when some
    // listed job has one.
    const bool reasons = std::any_of(tasks.begin(), tasks.end(), [](const ConversionTask &t) {
        return t.status == 2 && !t.failReason.isEmpty();
    });
    const bool notes = std::any_of(tasks.begin(), tasks.end(), [](const ConversionTask &t) {
        return t.status == 1 && !t.note.isEmpty();
    });
    QList<QStringList> rows;
    rows.append({QStringLiteral("ID"), QStringLiteral("STATUS"), QStringLiteral("TYPE"),
                 QStringLiteral("PAGES"), QStringLiteral("CREATED"), QStringLiteral("FILE")});
    if (reasons)
        rows.first().append(QStringLiteral("REASON"));
    if (notes)
        rows.first().append(QStringLiteral("NOTE"));
    for (const ConversionTask &t : tasks) {
        rows.append({cellText(t.id), statusWord(t.status), cellText(t.typ),
                     t.pageNumber > 0 ? QString::number(t.pageNumber) : QStringLiteral("unknown"),
                     cellText(t.createAt), cellText(t.fileName)});
        if (reasons)
            rows.last().append(t.status == 2 ? cellText(t.failReason) : QString());
        if (notes)
            rows.last().append(t.status == 1 ? cellText(t.note) : QString());
    }
    return alignedColumns(rows);
}

QByteArray jsonDocument(const QJsonObject &object) {
    return QJsonDocument(object).toJson(QJsonDocument::Indented);
}

QByteArray jsonDocument(const QJsonArray &array) {
    return QJsonDocument(array).toJson(QJsonDocument::Indented);
}

QJsonArray jobArray(const QList<ConversionTask> &tasks) {
    QJsonArray array;
    for (const ConversionTask &t : tasks)
        array.append(t.toJson());
    return array;
}

QJsonObject savedJob(const ConversionTask &task, const QString &savedPath) {
    QJsonObject o = task.toJson();
    o.insert(QStringLiteral("saved_path"), savedPath);
    return o;
}

QString whoamiText(const UserInfoData &info) {
    return alignedColumns({
        {QStringLiteral("Email:"), cellText(info.email)},
        {QStringLiteral("Lifetime membership:"),
         info.is_lifetimedeal_member ? QStringLiteral("yes") : QStringLiteral("no")},
        {QStringLiteral("Membership:"), cellText(info.lifetime_member_description)},
        {QStringLiteral("Page balance:"), cellText(info.page_balcance_description)},
    });
}

QString balanceText(const BalanceFigures &f) {
    if (f.face == BalanceFigures::Face::Lifetime) {
        QString out = QStringLiteral("Lifetime Membership\n");
        if (!f.lifetimeDescription.isEmpty())
            out += cellText(f.lifetimeDescription) + u'\n';
        if (f.showDailyRow)
            out += QStringLiteral("Daily Usage: %1/%2  Remain: %3\n")
                       .arg(f.dailyUsage)
                       .arg(f.dailyTotal)
                       .arg(f.dailyRemain);
        return out;
    }
    QString out = alignedColumns(
        {{QStringLiteral("Usage"), QStringLiteral("Remain"), QStringLiteral("Total")},
         {QString::number(f.usage), QString::number(f.remain), QString::number(f.total)}});
    if (f.showPageBar && !f.pageBalanceDescription.isEmpty())
        out += cellText(f.pageBalanceDescription) + u'\n';
    return out;
}

QString operationsTable() {
    QList<QStringList> rows{
        {QStringLiteral("OPERATION"), QStringLiteral("GROUP"), QStringLiteral("ACCEPTS")}};
    for (const auto &group : OperationCatalogue::toolGroups())
        for (const auto &row : group.rows)
            rows.append({row.operationName, group.title,
                         OperationCatalogue::acceptedFormatDescription(row.operationName)});
    return alignedColumns(rows);
}

QJsonArray operationsArray() {
    QJsonArray array;
    for (const auto &group : OperationCatalogue::toolGroups())
        for (const auto &row : group.rows)
            array.append(QJsonObject{
                {QStringLiteral("name"), row.operationName},
                {QStringLiteral("group"), group.title},
                {QStringLiteral("accepted_formats"),
                 OperationCatalogue::acceptedFormatDescription(row.operationName)},
                {QStringLiteral("file_types"),
                 QJsonArray::fromStringList(
                     OperationCatalogue::fileDialogNameFilters(row.operationName))},
            });
    return array;
}

} // namespace quorvel::cli
