#pragma once

#include "ScriptedServer.h"
#include "TestSupport.h"

#include "conversion/PDFViewModel.h"
#include "service/ServiceError.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QTest>

#include <QCoroTask>

#include <memory>
#include <optional>

namespace quorvel::test {

// The end of a coroutine the test started: its value or the error it raised.
template <typename T> struct Outcome {
    bool done = false;
    std::optional<T> value;
    std::optional<ServiceError> error;
};

template <typename T>
QCoro::Task<> captureInto(QCoro::Task<T> task, std::shared_ptr<Outcome<T>> out) {
    try {
        out->value = co_await std::move(task);
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

inline bool finishVoid(QCoro::Task<> task, int boundMs = 15000) {
    auto done = std::make_shared<bool>(false);
    [](QCoro::Task<> t, std::shared_ptr<bool> flag) -> QCoro::Task<> {
        co_await std::move(t);
        *flag = true;
    }(std::move(task), done);
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

inline QByteArray envelope(const QJsonObject &data) {
    return QJsonDocument(QJsonObject{{"code", 0}, {"msg", "ok"}, {"data", data}})
        .toJson(QJsonDocument::Compact);
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
