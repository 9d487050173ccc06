#pragma once

#include <QAbstractListModel>
#include <QDateTime>
#include <QList>
#include <QString>
#include <QUuid>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

struct ChatMessage {
    QUuid id;
    QString text;
    bool isUser = false;
    QDateTime date;
};

// The assistant's conversation, its input text and whether a reply is pending. Replies are
// composed here from a fixed template and arrive after `replyPauseMs`, whether or not the
// chat is still on screen.
class ChatModel : public QAbstractListModel {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("The assistant page owns its chat")
    Q_PROPERTY(QString inputText READ inputText WRITE setInputText NOTIFY inputTextChanged FINAL)
    Q_PROPERTY(bool isLoading READ isLoading NOTIFY isLoadingChanged FINAL)
    Q_PROPERTY(bool canSend READ canSend NOTIFY canSendChanged FINAL)
    Q_PROPERTY(int count READ count NOTIFY countChanged FINAL)
    Q_PROPERTY(QStringList suggestions READ suggestions CONSTANT FINAL)

public:
    enum Role { IdRole = Qt::UserRole + 1, TextRole, IsUserRole, DateRole, TimeRole };

    explicit ChatModel(QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = {}) const override;
    QVariant data(const QModelIndex &index, int role) const override;
    QHash<int, QByteArray> roleNames() const override;

    const QList<ChatMessage> &messages() const { return m_messages; }
    int count() const { return int(m_messages.size()); }
    QString inputText() const { return m_inputText; }
    void setInputText(const QString &text);
    bool isLoading() const { return m_isLoading; }
    // What the input row allows: some text, and no reply pending.
    bool canSend() const { return !m_inputText.isEmpty() && !m_isLoading; }
    static QStringList suggestions();
    static QString reply(const QString &question);

    // The pause before a reply arrives.
    int replyPauseMs = 1500;

    // Sends the input text (nothing when it is empty).
    void send();
    // The input row's button and the field's Enter: sends only when `canSend`.
    Q_INVOKABLE void sendInput();
    // A welcome suggestion: becomes the input text and is sent at once.
    Q_INVOKABLE void sendSuggestion(const QString &text);

Q_SIGNALS:
    void inputTextChanged();
    void isLoadingChanged();
    void canSendChanged();
    void countChanged();

private:
    void append(const QString &text, bool isUser);
    void setIsLoading(bool loading);

    QList<ChatMessage> m_messages;
    QString m_inputText;
    bool m_isLoading = false;
};

} // namespace quorvel
