#include "ChatModel.h"

#include <QTimer>

namespace quorvel {

ChatModel::ChatModel(QObject *parent)
    : QAbstractListModel(parent) {}

QStringList ChatModel::suggestions() {
    return {QStringLiteral("这篇文档的主要内容是什么？"),
            QStringLiteral("帮我提取文档中的关键信息"), QStringLiteral("将这篇文档翻译成英文")};
}

QString ChatModel::reply(const QString &question) {
    return QStringLiteral("基于您的问题「") + question +
           QStringLiteral("」，我可以分析出您需要了解文档中的相关内容。如果您有具体的PDF文件已"
                          "上传，我可以提供更精确的回答。");
}

void ChatModel::setInputText(const QString &text) {
    if (text == m_inputText)
        return;
    m_inputText = text;
    Q_EMIT inputTextChanged();
    Q_EMIT canSendChanged();
}

void ChatModel::setIsLoading(bool loading) {
    if (loading == m_isLoading)
        return;
    m_isLoading = loading;
    Q_EMIT isLoadingChanged();
    Q_EMIT canSendChanged();
}

void ChatModel::append(const QString &text, bool isUser) {
    const int row = count();
    beginInsertRows({}, row, row);
    m_messages.append({QUuid::createUuid(), text, isUser, QDateTime::currentDateTime()});
    endInsertRows();
    Q_EMIT countChanged();
}

void ChatModel::send() {
    if (m_inputText.isEmpty())
        return;
    const QString question = m_inputText;
    append(question, true);
    setInputText(QString());
    setIsLoading(true);
    QTimer::singleShot(replyPauseMs, this, [this, question] {
        append(reply(question), false);
        setIsLoading(false);
    });
}

void ChatModel::sendInput() {
    if (canSend())
        send();
}

void ChatModel::sendSuggestion(const QString &text) {
    setInputText(text);
    send();
}

int ChatModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant ChatModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    const ChatMessage &m = m_messages[index.row()];
    switch (role) {
    case IdRole:
        return m.id.toString(QUuid::WithoutBraces).toUpper();
    case TextRole:
    case Qt::DisplayRole:
        return m.text;
    case IsUserRole:
        return m.isUser;
    case DateRole:
        return m.date;
    case TimeRole:
        return m.date.toString(QStringLiteral("HH:mm"));
    default:
        return {};
    }
}

QHash<int, QByteArray> ChatModel::roleNames() const {
    return {{IdRole, "messageId"},
            {TextRole, "text"},
            {IsUserRole, "isUser"},
            {DateRole, "date"},
            {TimeRole, "time"}};
}

} // namespace quorvel
