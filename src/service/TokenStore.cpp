#include "service/TokenStore.h"

#include "service/LogCategories.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QSettings>
#include <QThread>
#include <QThreadPool>
#include <QtConcurrent/QtConcurrentRun>

#include <qt6keychain/keychain.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <mutex>

namespace quorvel::TokenStore {
namespace {

const QString kKey = QStringLiteral("authToken");
// The keyring entry: QtKeychain files it under this service name and the key above.
const QString kKeyringService = QStringLiteral("Quorvel");

// --- The owner-only preferences file -------------------------------------------------------

QSettings settings() {
    return QSettings(QSettings::NativeFormat, QSettings::UserScope, QStringLiteral("Quorvel"),
                     QStringLiteral("Quorvel"));
}

constexpr auto kOwnerOnly = QFileDevice::ReadOwner | QFileDevice::WriteOwner;

// QSettings replaces its file through a save file that keeps the permissions of the
// file it replaces, so creating it 0600 first means the token is never world-readable.
void ensurePrivateFile(const QString &path) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!QFileInfo::exists(path)) {
        QFile file(path);
        if (file.open(QIODevice::WriteOnly | QIODevice::NewOnly, kOwnerOnly))
            file.close();
    }
    QFile::setPermissions(path, kOwnerOnly);
}

void fileRemove() {
    QSettings s = settings();
    if (!s.contains(kKey))
        return;
    s.remove(kKey);
    s.sync();
}

std::optional<QString> fileRead() {
    const QVariant value = settings().value(kKey);
    if (!value.isValid() || value.userType() != QMetaType::QString)
        return std::nullopt;
    return value.toString();
}

void fileWrite(const QString &token) {
    QSettings s = settings();
    ensurePrivateFile(s.fileName());
    s.setValue(kKey, token);
    s.sync();
    QFile::setPermissions(s.fileName(), kOwnerOnly);
}

// --- The keyring -----------------------------------------------------------------------------

// QtKeychain runs its jobs one after another from a queue that lives in the thread that first
// used it, and libsecret answers on that thread's main context. One thread of our own, always
// turning its event loop, keeps both alive for the whole process and never blocks the window.
struct KeyringThread {
    QThread *thread = nullptr;
    QObject *context = nullptr;
    std::mutex pendingMutex;
    std::shared_future<void> lastQueued;
};

KeyringThread &keyringThread();

void drainAndStop() {
    KeyringThread &k = keyringThread();
    std::shared_future<void> last;
    {
        std::lock_guard lock(k.pendingMutex);
        last = k.lastQueued;
    }
    // A sign-out queued just before the process ends still reaches the keyring.
    if (last.valid())
        last.wait_for(std::chrono::milliseconds(keyringTimeoutMs()));
    k.thread->quit();
    k.thread->wait(1000);
}

KeyringThread &keyringThread() {
    static KeyringThread k;
    static std::once_flag started;
    std::call_once(started, [] {
        // Never deleted: a job stuck in a silent keyring must not abort the process at exit.
        k.thread = new QThread;
        k.thread->setObjectName(QStringLiteral("keyring"));
        k.context = new QObject;
        k.context->moveToThread(k.thread);
        k.thread->start();
        qAddPostRoutine(drainAndStop);
    });
    return k;
}

struct JobOutcome {
    bool answered = false;
    QKeychain::Error error = QKeychain::NoError;
    QString errorText;
    QString data;
};

enum class Operation { Read, Write, Delete };

// Queues one job on the keyring thread; the future becomes ready when the keyring answers.
std::shared_future<JobOutcome> queueJob(Operation operation, const QString &token = {}) {
    KeyringThread &k = keyringThread();
    auto promise = std::make_shared<std::promise<JobOutcome>>();
    std::shared_future<JobOutcome> future = promise->get_future().share();
    {
        std::lock_guard lock(k.pendingMutex);
        auto done = std::make_shared<std::promise<void>>();
        // Only a change must reach the keyring before the process ends; a read may be dropped.
        if (operation != Operation::Read)
            k.lastQueued = done->get_future().share();
        QMetaObject::invokeMethod(
            k.context,
            [operation, token, promise, done] {
                QKeychain::Job *job = nullptr;
                if (operation == Operation::Read) {
                    job = new QKeychain::ReadPasswordJob(kKeyringService);
                } else if (operation == Operation::Write) {
                    auto *write = new QKeychain::WritePasswordJob(kKeyringService);
                    write->setTextData(token);
                    job = write;
                } else {
                    job = new QKeychain::DeletePasswordJob(kKeyringService);
                }
                job->setKey(kKey);
                job->setAutoDelete(true);
                QObject::connect(
                    job, &QKeychain::Job::finished, job, [promise, done](QKeychain::Job *finished) {
                        JobOutcome outcome;
                        outcome.answered = true;
                        outcome.error = finished->error();
                        outcome.errorText = finished->errorString();
                        if (auto *read = qobject_cast<QKeychain::ReadPasswordJob *>(finished))
                            outcome.data = read->textData();
                        promise->set_value(outcome);
                        done->set_value();
                    });
                job->start();
            },
            Qt::QueuedConnection);
    }
    return future;
}

JobOutcome runJob(Operation operation, const QString &token = {}) {
    const auto future = queueJob(operation, token);
    if (future.wait_for(std::chrono::milliseconds(keyringTimeoutMs())) != std::future_status::ready)
        return {};
    return future.get();
}

const QStringList kKeyringNames = {QStringLiteral("org.freedesktop.secrets"),
                                   QStringLiteral("org.kde.kwalletd5"),
                                   QStringLiteral("org.kde.kwalletd6")};

QDBusMessage busCall(const QString &service, const QString &path, const QString &interface,
                     const QString &method, const QVariantList &arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(service, path, interface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, keyringTimeoutMs());
}

// Whether a keyring runs on the session bus or the bus can start one. Without one, libsecret
// would only fail after its own time-outs.
bool keyringOnBus() {
    if (!QDBusConnection::sessionBus().isConnected())
        return false;
    for (const QString &method :
         {QStringLiteral("ListNames"), QStringLiteral("ListActivatableNames")}) {
        const QDBusMessage reply =
            busCall(QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                    QStringLiteral("org.freedesktop.DBus"), method);
        if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
            continue;
        const QStringList names = reply.arguments().constFirst().toStringList();
        if (std::any_of(kKeyringNames.begin(), kKeyringNames.end(),
                        [&names](const QString &n) { return names.contains(n); }))
            return true;
    }
    return false;
}

// A locked Secret Service collection whose unlock prompt could not be shown reads as "no
// entry" through libsecret; asking the collection tells that apart from a real absence.
bool defaultCollectionLocked() {
    const QDBusMessage reply =
        busCall(QStringLiteral("org.freedesktop.secrets"),
                QStringLiteral("/org/freedesktop/secrets/aliases/default"),
                QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"),
                {QStringLiteral("org.freedesktop.Secret.Collection"), QStringLiteral("Locked")});
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty())
        return false;
    return reply.arguments().constFirst().value<QDBusVariant>().variant().toBool();
}

// --- Where the token is ----------------------------------------------------------------------

struct State {
    QMutex openMutex; // one opening at a time; held while the keyring is asked
    QMutex mutex;     // the fields below
    bool opened = false;
    Opening opening;
    std::optional<QString> cached; // the keyring's token once opened there
    std::optional<QFuture<Opening>> background;
};

State &state() {
    static State s;
    return s;
}

Place currentPlace() {
    QMutexLocker lock(&state().mutex);
    return state().opened ? state().opening.place : Place::File;
}

Opening fallBack(const QString &reason) {
    static std::once_flag said;
    std::call_once(said, [&reason] {
        const QString line =
            QStringLiteral("🔐 No keyring answered (%1): the sign-in token stays in %2, "
                           "readable by its owner only")
                .arg(reason, QDir::toNativeSeparators(filePath()));
        qCWarning(lcAuth).noquote() << line;
        Log::write(lcAuth(), line);
    });
    return Opening{Place::File, fileRead(), {}};
}

Opening refused(const QString &reason) {
    Log::write(lcAuth(), QStringLiteral("⛔️ The keyring refused the sign-in token: ") + reason);
    return Opening{Place::Keyring, std::nullopt, reason};
}

Opening decide() {
    if (qEnvironmentVariable("QUORVEL_TOKEN_STORE") == u"file")
        return Opening{Place::File, fileRead(), {}};
    if (!keyringOnBus())
        return fallBack(QStringLiteral("no Secret Service or KWallet on the session bus"));

    const JobOutcome read = runJob(Operation::Read);
    if (!read.answered)
        return fallBack(QStringLiteral("it did not answer within %1 ms").arg(keyringTimeoutMs()));
    if (read.error == QKeychain::AccessDenied || read.error == QKeychain::AccessDeniedByUser)
        return refused(read.errorText);
    if (read.error != QKeychain::NoError && defaultCollectionLocked())
        return refused(QStringLiteral("the keyring is locked"));
    if (read.error != QKeychain::NoError && read.error != QKeychain::EntryNotFound)
        return fallBack(read.errorText);

    std::optional<QString> token;
    if (read.error == QKeychain::NoError)
        token = read.data;
    if (token && !isWellFormed(*token)) {
        Log::write(lcAuth(),
                   QStringLiteral("⚠️ The stored token holds control characters: signed out"));
        runJob(Operation::Delete);
        token.reset();
    }
    if (const auto fromFile = fileRead()) {
        if (!token && isWellFormed(*fromFile)) {
            const JobOutcome moved = runJob(Operation::Write, *fromFile);
            if (!moved.answered || moved.error != QKeychain::NoError)
                return fallBack(moved.answered ? moved.errorText
                                               : QStringLiteral("it did not take the token"));
            token = fromFile;
            Log::write(lcAuth(), QStringLiteral("🔐 Moved the sign-in token into the keyring"));
        }
        // The keyring's own token is the newer one; the file's copy goes either way.
        fileRemove();
    }
    return Opening{Place::Keyring, token, {}};
}

} // namespace

QString filePath() {
    return settings().fileName();
}

int keyringTimeoutMs() {
    bool ok = false;
    const int fromEnvironment = qEnvironmentVariableIntValue("QUORVEL_KEYRING_TIMEOUT_MS", &ok);
    return ok && fromEnvironment > 0 ? fromEnvironment : 10'000;
}

Opening open() {
    QMutexLocker openLock(&state().openMutex);
    {
        QMutexLocker lock(&state().mutex);
        if (state().opened)
            return state().opening;
    }
    Opening opening = decide();
    QMutexLocker lock(&state().mutex);
    state().opening = opening;
    state().cached = opening.place == Place::Keyring ? opening.token : std::nullopt;
    state().opened = true;
    return opening;
}

QFuture<Opening> openInBackground() {
    QMutexLocker lock(&state().mutex);
    if (!state().background) {
        // A pool of its own, never waited for: quitting the window must not wait for a keyring
        // that does not answer (the global pool is drained when the application ends).
        static auto *pool = new QThreadPool;
        state().background = QtConcurrent::run(pool, [] { return open(); });
    }
    return *state().background;
}

std::optional<QFuture<Opening>> pendingOpening() {
    QMutexLocker lock(&state().mutex);
    return state().background;
}

bool isOpen() {
    QMutexLocker lock(&state().mutex);
    return state().opened;
}

bool isWellFormed(const QString &token) {
    return std::none_of(token.begin(), token.end(),
                        [](QChar c) { return c.category() == QChar::Other_Control; });
}

std::optional<QString> read() {
    if (currentPlace() == Place::Keyring) {
        QMutexLocker lock(&state().mutex);
        return state().cached;
    }
    const auto token = fileRead();
    if (token && !isWellFormed(*token)) {
        Log::write(lcAuth(),
                   QStringLiteral("⚠️ The stored token holds control characters: signed out"));
        fileRemove();
        return std::nullopt;
    }
    return token;
}

bool write(const QString &token, QString *problem) {
    if (!isWellFormed(token))
        return false;
    if (currentPlace() == Place::File) {
        fileWrite(token);
        return true;
    }
    const JobOutcome stored = runJob(Operation::Write, token);
    if (!stored.answered || stored.error != QKeychain::NoError) {
        if (problem)
            *problem = stored.answered ? stored.errorText
                                       : QStringLiteral("The keyring did not answer within %1 ms")
                                             .arg(keyringTimeoutMs());
        return false;
    }
    {
        QMutexLocker lock(&state().mutex);
        state().cached = token;
    }
    fileRemove();
    return true;
}

void remove() {
    const bool inKeyring = currentPlace() == Place::Keyring;
    if (inKeyring) {
        {
            QMutexLocker lock(&state().mutex);
            state().cached.reset();
        }
        // Queued, not awaited: the keyring runs its jobs in order, so a later sign-in is stored
        // after this removal, and the process waits for it before it ends.
        queueJob(Operation::Delete);
    }
    fileRemove();
}

} // namespace quorvel::TokenStore
