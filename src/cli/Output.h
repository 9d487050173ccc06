#pragma once

#include "service/BalanceFigures.h"
#include "service/WireRecords.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

namespace quorvel::cli {

// The word a job's status is shown with. Values the service does not define are shown
// as such, so "Converting" always means what the converting filter keeps.
QString statusWord(qint64 status);

// Columns padded to their widest cell (terminal cells: wide CJK characters count two),
// two spaces apart; the last column is not padded. One line per row, each ending in "\n".
QString alignedColumns(const QList<QStringList> &rows);
// Terminal cells a text takes.
int displayWidth(const QString &text);
// A text from the service made safe for one table cell: control characters become "?".
QString cellText(const QString &text);

// A table of jobs with a header row.
QString jobTable(const QList<ConversionTask> &tasks);

// JSON documents end with a newline, like every line of output.
QByteArray jsonDocument(const QJsonObject &object);
QByteArray jsonDocument(const QJsonArray &array);
QJsonArray jobArray(const QList<ConversionTask> &tasks);
// A job and where its result was saved.
QJsonObject savedJob(const ConversionTask &task, const QString &savedPath);

QString whoamiText(const UserInfoData &info);
QString balanceText(const BalanceFigures &figures);

QString operationsTable();
QJsonArray operationsArray();

} // namespace quorvel::cli
