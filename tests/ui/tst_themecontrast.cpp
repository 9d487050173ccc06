// Every text colour of the theme against every surface it is drawn on, in both schemes:
// WCAG 2 contrast of at least 4.5:1, 3:1 for titles.
#include "Theme.h"

#include <QTest>

#include <cmath>

using namespace quorvel;

namespace {
// WCAG 2 relative luminance of an opaque sRGB colour.
double luminance(const QColor &c) {
    const auto channel = [](double v) {
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(c.redF()) + 0.7152 * channel(c.greenF()) + 0.0722 * channel(c.blueF());
}
// Whether two colours are the same within one step a channel (rounding).
bool near(const QColor &a, const QColor &b) {
    return std::abs(a.red() - b.red()) <= 1 && std::abs(a.green() - b.green()) <= 1 &&
           std::abs(a.blue() - b.blue()) <= 1;
}
double contrast(const QColor &a, const QColor &b) {
    const double la = luminance(a), lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}
} // namespace

class TestThemeContrast : public QObject {
    Q_OBJECT

private Q_SLOTS:
    // The formula itself, against figures published for these pairs.
    void formula_data() {
        QTest::addColumn<QColor>("a");
        QTest::addColumn<QColor>("b");
        QTest::addColumn<double>("ratio");
        QTest::newRow("black on white") << QColor(Qt::black) << QColor(Qt::white) << 21.0;
        QTest::newRow("same colour") << QColor(0x77, 0x77, 0x77) << QColor(0x77, 0x77, 0x77) << 1.0;
        QTest::newRow("#767676 on white") << QColor(0x76, 0x76, 0x76) << QColor(Qt::white) << 4.54;
        QTest::newRow("#777777 on white") << QColor(0x77, 0x77, 0x77) << QColor(Qt::white) << 4.48;
    }
    void formula() {
        QFETCH(QColor, a);
        QFETCH(QColor, b);
        QFETCH(double, ratio);
        QVERIFY2(std::abs(contrast(a, b) - ratio) < 0.01,
                 qPrintable(QString::number(contrast(a, b))));
    }

    // Half-transparent layers are measured as painted.
    void compositing_data() {
        QTest::addColumn<QColor>("top");
        QTest::addColumn<QColor>("below");
        QTest::addColumn<QColor>("painted");
        QTest::newRow("opaque") << QColor(10, 20, 30) << QColor(Qt::white) << QColor(10, 20, 30);
        QTest::newRow("clear") << QColor(10, 20, 30, 0) << QColor(200, 100, 50)
                               << QColor(200, 100, 50);
        QTest::newRow("half black on white")
            << QColor(0, 0, 0, 128) << QColor(Qt::white) << QColor(127, 127, 127);
    }
    void compositing() {
        QFETCH(QColor, top);
        QFETCH(QColor, below);
        QFETCH(QColor, painted);
        const QColor got = Theme::over(top, below);
        QVERIFY2(near(got, painted) && got.alpha() == 255, qPrintable(got.name(QColor::HexArgb)));
    }

    // A card draws its fill and frosted tint as one colour: on any surface, that colour must
    // show what the two layers painted one over the other show.
    void cardFillIsFillThenTint_data() {
        QTest::addColumn<QString>("scheme");
        QTest::addColumn<QColor>("surface");
        for (Theme::Case c : Theme::allCases()) {
            Theme theme(nullptr, nullptr);
            theme.setValue(c);
            for (const QColor &surface :
                 {QColor(Qt::white), QColor(Qt::black), theme.pageSurface()}) {
                QTest::addRow("%s on %s", qPrintable(Theme::rawValue(c)),
                              qPrintable(surface.name()))
                    << Theme::rawValue(c) << surface;
            }
        }
    }
    void cardFillIsFillThenTint() {
        QFETCH(QString, scheme);
        QFETCH(QColor, surface);
        Theme theme(nullptr, nullptr);
        QVERIFY(theme.setRawValue(scheme));
        QColor tint = theme.blurTint();
        tint.setAlphaF(float(theme.cardBlurOpacity()));
        const QColor layered = Theme::over(tint, Theme::over(theme.cardBackground(), surface));
        const QColor single = Theme::over(theme.cardFill(), surface);
        QVERIFY2(near(single, layered),
                 qPrintable(single.name() + QStringLiteral(" instead of ") + layered.name()));
    }

    void readable_data() {
        QTest::addColumn<QColor>("text");
        QTest::addColumn<QColor>("surface");
        QTest::addColumn<double>("minimum");
        for (Theme::Case c : Theme::allCases()) {
            Theme theme(nullptr, nullptr);
            theme.setValue(c);
            const auto pairs = theme.textOnSurfaces();
            QVERIFY(pairs.size() > 20);
            for (const auto &p : pairs) {
                QVERIFY(p.surfaceColor.alpha() == 255);
                QTest::addRow("%s: %s on %s", qPrintable(Theme::rawValue(c)), qPrintable(p.text),
                              qPrintable(p.surface))
                    << p.textColor << p.surfaceColor << (p.large ? 3.0 : 4.5);
            }
        }
    }
    void readable() {
        QFETCH(QColor, text);
        QFETCH(QColor, surface);
        QFETCH(double, minimum);
        const double ratio = contrast(text, surface);
        QVERIFY2(ratio >= minimum, qPrintable(QStringLiteral("%1 on %2: %3:1")
                                                  .arg(text.name(), surface.name())
                                                  .arg(ratio, 0, 'f', 2)));
    }
};

QTEST_GUILESS_MAIN(TestThemeContrast)
#include "tst_themecontrast.moc"
