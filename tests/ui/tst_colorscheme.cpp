// The window's colour scheme: the desktop's preference read from a stand-in settings portal
// on a private session bus, followed as it changes, and overridden by QUORVEL_COLOR_SCHEME.
#include "ColorScheme.h"
#include "Theme.h"

#include "../support/PrivateBus.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QDBusVirtualObject>
#include <QFile>
#include <QProcess>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using namespace quorvel;

namespace {
const QString kPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kInterface = QStringLiteral("org.freedesktop.portal.Settings");

QDBusConnection standInBus() {
    return QDBusConnection(QStringLiteral("portal"));
}

// The settings portal: answers Read of the colour scheme as the real one does (a variant in a
// variant) and counts the reads.
class Portal : public QDBusVirtualObject {
public:
    explicit Portal(uint scheme)
        : m_scheme(scheme) {
        QVERIFY(standInBus().registerVirtualObject(kPath, this) &&
                standInBus().registerService(QStringLiteral("org.freedesktop.portal.Desktop")));
    }
    ~Portal() override {
        standInBus().unregisterService(QStringLiteral("org.freedesktop.portal.Desktop"));
        standInBus().unregisterObject(kPath);
    }
    int reads = 0;

    void change(const QString &nameSpace, uint scheme) {
        QDBusMessage signal =
            QDBusMessage::createSignal(kPath, kInterface, QStringLiteral("SettingChanged"));
        signal << nameSpace << QStringLiteral("color-scheme")
               << QVariant::fromValue(QDBusVariant(scheme));
        QVERIFY(standInBus().send(signal));
    }

    QString introspect(const QString &) const override { return {}; }
    bool handleMessage(const QDBusMessage &message, const QDBusConnection &connection) override {
        if (message.member() != u"Read" ||
            message.arguments() != QVariantList{QStringLiteral("org.freedesktop.appearance"),
                                                QStringLiteral("color-scheme")})
            return false;
        ++reads;
        const QDBusVariant inner(m_scheme);
        connection.send(
            message.createReply(QVariant::fromValue(QDBusVariant(QVariant::fromValue(inner)))));
        return true;
    }

private:
    uint m_scheme;
};
} // namespace

class TestColorScheme : public QObject {
    Q_OBJECT
    test::PrivateBus m_bus;

private Q_SLOTS:
    void initTestCase() {
        QString error;
        const QString address = m_bus.start(&error);
        QVERIFY2(!address.isEmpty(), qPrintable(error));
        QVERIFY(QDBusConnection::connectToBus(address, QStringLiteral("client")).isConnected());
        QVERIFY(QDBusConnection::connectToBus(address, QStringLiteral("portal")).isConnected());
    }

    void scheme_data() {
        QTest::addColumn<QByteArray>("environment");
        QTest::addColumn<int>("portal");   // the desktop's color-scheme, -1 without a portal
        QTest::addColumn<int>("changeTo"); // a later change, -1 for none
        QTest::addColumn<bool>("dark");

        QTest::newRow("desktop prefers dark") << QByteArray() << 1 << -1 << true;
        QTest::newRow("no preference") << QByteArray() << 0 << -1 << false;
        QTest::newRow("no portal") << QByteArray() << -1 << -1 << false;
        QTest::newRow("desktop turns dark") << QByteArray() << 0 << 1 << true;
        QTest::newRow("desktop turns light") << QByteArray() << 1 << 2 << false;
        QTest::newRow("environment dark over a light desktop")
            << QByteArray("dark") << 2 << -1 << true;
        QTest::newRow("environment light over a dark desktop")
            << QByteArray("light") << 1 << 1 << false;
        QTest::newRow("other environment values ignored") << QByteArray("Dark") << 1 << -1 << true;
    }

    void scheme() {
        QFETCH(QByteArray, environment);
        QFETCH(int, portal);
        QFETCH(int, changeTo);
        const QDBusConnection bus(QStringLiteral("client"));
        std::unique_ptr<Portal> standIn;
        if (portal >= 0)
            standIn = std::make_unique<Portal>(uint(portal));

        qputenv("QUORVEL_COLOR_SCHEME", environment);
        // The window's theme, following that reading.
        Theme theme(new ColorScheme(bus), nullptr);
        qunsetenv("QUORVEL_COLOR_SCHEME");
        // A second reader without the override, asked after the first on the same connection:
        // once it has its answer, the first has had every answer it asked for.
        ColorScheme probe(bus);
        QSignalSpy answered(&probe, &ColorScheme::answered);
        QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 1, 10000);
        const bool overridden = environment == "dark" || environment == "light";
        if (standIn)
            QCOMPARE(standIn->reads, overridden ? 1 : 2);
        if (changeTo >= 0) {
            standIn->change(QStringLiteral("org.freedesktop.other"), uint(changeTo));
            standIn->change(QStringLiteral("org.freedesktop.appearance"), uint(changeTo));
            QTRY_COMPARE_WITH_TIMEOUT(answered.size(), 2, 10000);
        }
        QTEST(theme.isDark(), "dark");
    }
};

QTEST_GUILESS_MAIN(TestColorScheme)
#include "tst_colorscheme.moc"
