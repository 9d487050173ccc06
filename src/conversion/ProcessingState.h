#pragma once

#include <QObject>
#include <QString>

namespace quorvel {

// Where a conversion run stands: idle, processing, completed, or error with its message.
class ProcessingState {
    Q_GADGET
    Q_PROPERTY(Kind kind READ kind CONSTANT FINAL)
    Q_PROPERTY(QString message READ message CONSTANT FINAL)
    Q_PROPERTY(bool isError READ isError CONSTANT FINAL)
public:
    enum class Kind { Idle, Processing, Completed, Error };
    Q_ENUM(Kind)

    ProcessingState() = default;
    static ProcessingState idle() { return {}; }
    static ProcessingState processing() { return ProcessingState(Kind::Processing, {}); }
    static ProcessingState completed() { return ProcessingState(Kind::Completed, {}); }
    static ProcessingState error(const QString &message) {
        return ProcessingState(Kind::Error, message);
    }

    Kind kind() const { return m_kind; }
    QString message() const { return m_message; }
    bool isError() const { return m_kind == Kind::Error; }

    bool operator==(const ProcessingState &o) const {
        return m_kind == o.m_kind && (m_kind != Kind::Error || m_message == o.m_message);
    }

private:
    ProcessingState(Kind kind, QString message)
        : m_kind(kind)
        , m_message(std::move(message)) {}
    Kind m_kind = Kind::Idle;
    QString m_message;
};

} // namespace quorvel

Q_DECLARE_METATYPE(quorvel::ProcessingState)
