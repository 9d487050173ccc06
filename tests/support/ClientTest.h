#pragma once

#include "ScriptedServer.h"
#include "TestSupport.h"

#include "conversion/PDFViewModel.h"
#include "service/ServiceError.h"
#include "service/TokenStore.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <QCoroTask>

#include <memory>
#include <optional>

namespace quorvel::test {

// The service's routes as the client calls them; a job's id follows kStatus and kDownload.
inline const QByteArray kLogin = "/api/v1/tollan/auth/login";
inline const QByteArray kMe = "/api/v1/tollan/auth/me";
inline const QByteArray kBalance = "/api/v1/tollan/convertapi/page_balance";
inline const QByteArray kUpload = "/api/v2/uploadfilepdf";
inline const QByteArray kConvert = "/api/v1/tollan/convert";
inline const QByteArray kStatus = "/api/v1/tollan/convert/";
inline const QByteArray kHistory = "/api/v1/tollan/convert/all";
inline const QByteArray kDownload = "/api/v2/docx?md5_id=";

// The scripted loopback server a client test talks to. The client is pointed at it, with a
// private preferences store, for the object's life; reset() starts each test function afresh.
class ScriptedService : public ScriptedServer {
public:
    ScriptedService()
        : m_env(origin()) {}

    // Forgets the scripts and the requests, points the client back here (a test may have
    // pointed it elsewhere) and stores `token` (none: signed out).
    void reset(const QString &token = {}) {
        clearScripts();
        clearRequests();
        qputenv("QUORVEL_API_ORIGIN", origin().toUtf8());
        if (token.isEmpty())
            TokenStore::remove();
        else if (!TokenStore::write(token))
            qFatal("cannot store the test token");
    }

    // One JSON answer for the route, given again to every request.
    void answer(const QByteArray &method, const QByteArray &target, int status,
                const QByteArray &body) {
        script(method, target, {ScriptedResponse::json(status, body)});
    }

    const TestEnvironment &environment() const { return m_env; }

private:
    TestEnvironment m_env;
};

// A scripted answer that does something else than answer (drop, hang...).
inline ScriptedResponse acting(ScriptedResponse::Action action, int status = 200,
                               const QByteArray &body = {}) {
    ScriptedResponse r = ScriptedResponse::json(status, body);
    r.action = action;
    return r;
}

// The end of a coroutine the test started: its value (true for a task without one) or the
// error it raised.
template <typename T> struct Outcome {
    bool done = false;
    std::optional<std::conditional_t<std::is_void_v<T>, bool, T>> value;
    std::optional<ServiceError> error;

    // Why there is no value, for a failed check's message.
    QByteArray failure() const {
        return error ? error->rendering().toUtf8() : QByteArray(done ? "" : "still running");
    }
};

template <typename T>
QCoro::Task<> captureInto(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> out) {
    try {
        if constexpr (std::is_void_v<T>) {
            co_await std::move(task);
            out->value = true;
        } else {
            out->value = co_await std::move(task);
        }
    } catch (const ServiceError &e) {
        out->error = e;
    }
    out->done = true;
}

// Runs a coroutine on the test's event loop until it ends, within a bound.
template <typename T> std::shared_ptr<Outcome<T>> finish(QCoro::Task<T> task, int boundMs = 15000) {
    auto out = std::make_shared<Outcome<T>>();
    captureInto(std::move(task), out);
    (void)QTest::qWaitFor([out] { return out->done; }, boundMs);
    return out;
}

// Starts a coroutine that raises nothing; the flag turns true when it ends.
inline std::shared_ptr<bool> started(QCoro::Task<> task) {
    auto done = std::make_shared<bool>(false);
    [](QCoro::Task<> t, std::shared_ptr<bool> flag) -> QCoro::Task<> {
        co_await std::move(t);
        *flag = true;
    }(std::move(task), done);
    return done;
}

inline bool finishVoid(QCoro::Task<> task, int boundMs = 15000) {
    const auto done = started(std::move(task));
    return QTest::qWaitFor([done] { return *done; }, boundMs);
}

// A view model whose waits and animations run fast.
inline std::unique_ptr<PDFViewModel> fastViewModel() {
    auto vm = std::make_unique<PDFViewModel>();
    vm->pollIntervalMs = 20;
    vm->animationTickMs = 1;
    vm->simulationWaitScale = 0.01;
    return vm;
}

inline QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes) {
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write test file %s", qPrintable(path));
    return path;
}

// An id the client made up for a job the service did not name (an upper-case UUID).
inline bool isMadeUpId(const QString &id) {
    static const QRegularExpression uuid(
        QStringLiteral("^[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}$"));
    return uuid.match(id).hasMatch();
}

// A creation time as the service writes it, in UTC.
inline bool isServiceTime(const QString &text) {
    static const QRegularExpression written(
        QStringLiteral("^\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2} \\+0000$"));
    return written.match(text).hasMatch();
}

// A job as the service lists it, with only what the test names.
inline ConversionTask task(const QString &id, const QString &fileName = {}, qint64 status = 0,
                           const QString &typ = {}) {
    ConversionTask t;
    t.id = id;
    t.fileName = fileName;
    t.status = status;
    t.typ = typ;
    return t;
}

// The record of an uploaded PDF, its path and checksum made from its name.
inline FileUploadData uploadRecord(const QString &name, qint64 pages = 1) {
    FileUploadData u;
    u.file_name = name;
    u.source_file_path = "store/" + name;
    u.source_file_typ = "pdf";
    u.source_file_md5 = "md5-" + name;
    u.page_number = pages;
    return u;
}

inline QByteArray envelope(const QJsonObject &data) {
    return QJsonDocument(QJsonObject{{"code", 0}, {"msg", "ok"}, {"data", data}})
        .toJson(QJsonDocument::Compact);
}

// A history answer listing `jobs` (as the service writes them).
inline QByteArray historyAnswer(const QJsonArray &jobs) {
    return envelope(QJsonObject{{"converts", jobs}});
}

inline QByteArray uploadAnswer(const QString &fileName, qint64 pages = 3,
                               const QString &md5 = QStringLiteral("0123456789abcdef")) {
    return envelope({{"file_name", fileName},
                     {"source_file_path", "store/" + fileName},
                     {"source_file_typ", "pdf"},
                     {"source_file_md5", md5},
                     {"page_number", pages},
                     {"status", 1}});
}

inline QByteArray jobAnswer(const QString &id, qint64 status = 0, const QString &fileName = {}) {
    return envelope({{"id", id}, {"typ", "PDF2DOC"}, {"file_name", fileName}, {"status", status}});
}

} // namespace quorvel::test
