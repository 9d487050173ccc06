#include "DesktopNotifier.h"
#include "FileRevealer.h"

#include "../support/PrivateBus.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace quorvel;

// How the peer of a row treats a call: Absent leaves the name unowned, NoBus hands the client a
// session bus that cannot be reached.
enum class Peer { Answers, Refuses, Silent, Absent, NoBus };
Q_DECLARE_METATYPE(Peer)

// Stands in for the file manager or the notification server on the private bus for one row:
// records each call as its method's full name followed by its arguments, and answers it (or not)
// as the row asks.
class StandIn : public QDBusVirtualObject {
public:
    StandIn(const QString &name, Peer peer)
        : m_name(name)
        , m_path(u'/' + QString(name).replace(u'.', u'/'))
        , m_peer(peer) {
        if (peer != Peer::Absent && peer != Peer::NoBus)
            QVERIFY(bus().registerVirtualObject(m_path, this) && bus().registerService(name));
    }
    ~StandIn() override {
        bus().unregisterService(m_name);
        bus().unregisterObject(m_path);
    }
    static QDBusConnection bus() { return QDBusConnection(QStringLiteral("stand-ins")); }

    QList<QVariantList> calls;

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override {
        QVariantList call{QString(message.interface() + u'.' + message.member())};
        for (const QVariant &argument : message.arguments()) // a{sv} arrives unparsed
            call << (argument.canConvert<QDBusArgument>() ? qdbus_cast<QVariantMap>(argument)
                                                          : argument);
        calls.append(call);
        if (m_peer == Peer::Answers)
            connection.send(message.member() == u"Notify" ? message.createReply(7u)
                                                          : message.createReply());
        else if (m_peer == Peer::Refuses)
            connection.send(message.createErrorReply(QDBusError::Failed, QStringLiteral("no")));
        return true;
    }

private:
    QString m_name;
    QString m_path;
    Peer m_peer;
};

class TestDesktopIntegration : public QObject {
    Q_OBJECT

    static QDBusConnection client(Peer peer) {
        return peer == Peer::NoBus ? QDBusConnection::sessionBus()
                                   : QDBusConnection(QStringLiteral("client"));
    }

    QTemporaryDir m_dir;
    test::PrivateBus m_bus;

private slots:
    void initTestCase() {
        QString error;
        const QString address = m_bus.start(&error);
        QVERIFY2(!address.isEmpty(), qPrintable(error));
        QVERIFY(QDBusConnection::connectToBus(address, QStringLiteral("client")).isConnected());
        QVERIFY(QDBusConnection::connectToBus(address, QStringLiteral("stand-ins")).isConnected());

        // The session bus of a desktop whose bus is gone: its address leads nowhere.
        qputenv("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + QFile::encodeName(m_dir.path()) + "/x");
        QVERIFY(!QDBusConnection::sessionBus().isConnected());
    }

    void reveal_data() {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<bool>("asUrl");
        QTest::addColumn<Peer>("peer");
        QTest::addColumn<QString>("encodedName");

        const QString name = QStringLiteral("Quarterly report é 季度.pdf");
        const QString encoded =
            QStringLiteral("Quarterly%20report%20%C3%A9%20%E5%AD%A3%E5%BA%A6.pdf");
        QTest::newRow("spaces, non-ASCII: shown") << name << false << Peer::Answers << encoded;
        QTest::newRow("URL with reserved characters: shown")
            << QStringLiteral("50% #1?.pdf") << true << Peer::Answers
            << QStringLiteral("50%25%20%231%3F.pdf");
        QTest::newRow("file manager refuses: folder") << name << false << Peer::Refuses << encoded;
        QTest::newRow("file manager silent: folder") << name << true << Peer::Silent << encoded;
        QTest::newRow("no file manager: folder") << name << false << Peer::Absent << encoded;
        QTest::newRow("no session bus: folder") << name << false << Peer::NoBus << encoded;
    }

    void reveal() {
        QFETCH(QString, fileName);
        QFETCH(bool, asUrl);
        QFETCH(Peer, peer);
        QFETCH(QString, encodedName);
        QTemporaryDir folder(m_dir.filePath(QStringLiteral("files-XXXXXX")));
        const QString path = folder.filePath(fileName);
        QVERIFY(QFile(path).open(QIODevice::WriteOnly));
        StandIn fileManager(QStringLiteral("org.freedesktop.FileManager1"), peer);
        FileRevealer revealer(client(peer));
        revealer.setReplyTimeout(300);
        QList<QUrl> opened;
        revealer.setFallbackOpener([&opened](const QUrl &url) {
            opened.append(url);
            return true;
        });
        QSignalSpy revealed(&revealer, &FileRevealer::revealed);

        revealer.reveal(asUrl ? QUrl::fromLocalFile(path).toString() : path);
        QVERIFY(revealed.wait(10000));

        // The folder's path is plain ASCII: the file name alone carries what needs encoding.
        const QString uri = QStringLiteral("file://") + folder.path() + u'/' + encodedName;
        const bool shown = peer == Peer::Answers;
        QCOMPARE(revealed.first(), QVariantList({uri, shown}));
        const QVariantList call{QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
                                QStringList{uri}, QString()};
        QCOMPARE(fileManager.calls, QList<QVariantList>(peer >= Peer::Absent ? 0 : 1, call));
        QCOMPARE(opened, shown ? QList<QUrl>() : QList{QUrl::fromLocalFile(folder.path())});
    }

    void revealMissingFile() {
        StandIn fileManager(QStringLiteral("org.freedesktop.FileManager1"), Peer::Answers);
        FileRevealer revealer(client(Peer::Answers));
        QSignalSpy revealed(&revealer, &FileRevealer::revealed);
        QSignalSpy failed(&revealer, &FileRevealer::failed);

        for (const QString &given : {m_dir.filePath(QStringLiteral("gone.pdf")), QString()}) {
            const QString message = QStringLiteral("Cannot show “%1” in its folder").arg(given);
            QTest::ignoreMessage(QtWarningMsg,
                                 QRegularExpression(u'^' + QRegularExpression::escape(message)));
            revealer.reveal(given);
            QVERIFY(failed.wait(10000));
            QVERIFY(failed.takeFirst().first().toString().startsWith(message));
        }
        QCOMPARE(revealed.size() + fileManager.calls.size(), 0);
    }

    void notify_data() {
        QTest::addColumn<Peer>("peer");
        QTest::newRow("server answers") << Peer::Answers;
        QTest::newRow("server refuses") << Peer::Refuses;
        QTest::newRow("server silent") << Peer::Silent;
        QTest::newRow("no server") << Peer::Absent;
        QTest::newRow("no session bus") << Peer::NoBus;
    }

    void notify() {
        QFETCH(Peer, peer);
        StandIn server(QStringLiteral("org.freedesktop.Notifications"), peer);
        DesktopNotifier notifier(client(peer));
        notifier.setReplyTimeout(300);
        QSignalSpy notified(&notifier, &DesktopNotifier::notified);
        // One line for a notifier that cannot deliver, however often it tries; none when it can.
        const QRegularExpression unavailable(
            QStringLiteral("^Desktop notifications are unavailable"));
        const bool delivered = peer == Peer::Answers;
        if (!delivered)
            QTest::ignoreMessage(QtWarningMsg, unavailable);
        QTest::failOnWarning(unavailable);

        const QString title = QStringLiteral("Conversion finished");
        // The body is markup to the server: a name's "<" and "&" must arrive escaped.
        const QString body = QStringLiteral("“季度 <report> & notes.md” → PDF");
        for (int attempt = 0; attempt < 2; ++attempt) {
            notifier.notify(title, body);
            QVERIFY(notified.wait(10000));
            QCOMPARE(notified.takeFirst(), QVariantList{delivered});
        }

        const QVariantList call{
            QStringLiteral("org.freedesktop.Notifications.Notify"),
            QStringLiteral("Quorvel"),
            0u,
            QStringLiteral("quorvel"),
            title,
            QStringLiteral("“季度 &lt;report&gt; &amp; notes.md” → PDF"),
            QStringList(),
            QVariantMap{{QStringLiteral("desktop-entry"), QStringLiteral("quorvel")}},
            -1};
        QCOMPARE(server.calls, QList<QVariantList>(peer >= Peer::Absent ? 0 : 2, call));
    }
};

QTEST_GUILESS_MAIN(TestDesktopIntegration)
#include "tst_desktopintegration.moc"
