#include "Theme.h"

#include "ColorScheme.h"
#include "Icons.h"

#include <QGuiApplication>

namespace quorvel {

namespace {
QColor withAlpha(QColor c, double alpha) {
    c.setAlphaF(float(alpha));
    return c;
}
} // namespace

Theme::Theme(QObject *parent)
    : Theme(new ColorScheme(), parent) {}

Theme::Theme(ColorScheme *scheme, QObject *parent)
    : QObject(parent) {
    if (!scheme)
        return;
    scheme->setParent(this);
    const auto follow = [this, scheme] { setValue(scheme->isDark() ? Case::Dark : Case::Light); };
    connect(scheme, &ColorScheme::isDarkChanged, this, follow);
    follow();
}

QString Theme::rawValue(Case c) {
    return c == Case::Dark ? QStringLiteral("dark") : QStringLiteral("light");
}

std::optional<Theme::Case> Theme::fromRawValue(const QString &raw) {
    for (Case c : allCases()) {
        if (rawValue(c) == raw)
            return c;
    }
    return std::nullopt;
}

void Theme::setValue(Case value) {
    if (value == m_value)
        return;
    m_value = value;
    Q_EMIT changed();
}

bool Theme::setRawValue(const QString &raw) {
    const auto c = fromRawValue(raw);
    if (!c)
        return false;
    setValue(*c);
    return true;
}

QStringList Theme::allRawValues() const {
    QStringList out;
    for (Case c : allCases())
        out << rawValue(c);
    return out;
}

QColor Theme::cardBackground() const {
    return withAlpha(Qt::white, isDark() ? 0.08 : 0.5);
}

// The opaque colour the window is cleared to; the translucent page layers draw over it.
QColor Theme::windowBase() const {
    return isDark() ? QColor(0x1c, 0x1c, 0x1e) : QColor(0xf5, 0xf6, 0xf8);
}

QColor Theme::windowBackground() const {
    return isDark() ? withAlpha(Qt::black, 0.7) : withAlpha(QColor(0xec, 0xec, 0xec), 0.6);
}

QColor Theme::gradientStart() const {
    return withAlpha(QColor(0x00, 0x7a, 0xff), 0.1);
}
QColor Theme::gradientEnd() const {
    return withAlpha(QColor(0x00, 0x7a, 0xff), 0.05);
}
QColor Theme::cardBorder() const {
    return withAlpha(Qt::white, isDark() ? 0.3 : 0.2);
}

// The stand-in for a platform blur: a frosted fill, lighter on light pages.
QColor Theme::blurTint() const {
    return isDark() ? QColor(0x3a, 0x3a, 0x3c) : QColor(0xfb, 0xfb, 0xfd);
}

// A card's fill with its frosted tint over it, as one translucent colour: what the two layers
// show together, drawn in one pass.
QColor Theme::cardFill() const {
    const QColor fill = cardBackground();
    const double tintAlpha = cardBlurOpacity();
    const double alpha = tintAlpha + fill.alphaF() * (1 - tintAlpha);
    const QColor tint = blurTint();
    const auto mix = [&](double t, double f) {
        return (t * tintAlpha + f * fill.alphaF() * (1 - tintAlpha)) / alpha;
    };
    return QColor::fromRgbF(float(mix(tint.redF(), fill.redF())),
                            float(mix(tint.greenF(), fill.greenF())),
                            float(mix(tint.blueF(), fill.blueF())), float(alpha));
}

QColor Theme::primaryText() const {
    return isDark() ? QColor(0xf2, 0xf2, 0xf7) : QColor(0x1d, 0x1d, 0x1f);
}
QColor Theme::secondaryText() const {
    return isDark() ? QColor(0xae, 0xae, 0xb2) : QColor(0x5f, 0x5f, 0x66);
}
// The named colours double as text colours, so each is toned to stay readable (4.5:1) on
// every surface of its scheme: deeper on light pages, lighter on dark ones.
QColor Theme::blue() const {
    return isDark() ? QColor(0x4d, 0xa3, 0xff) : QColor(0x00, 0x59, 0xc1);
}
QColor Theme::green() const {
    return isDark() ? QColor(0x30, 0xd1, 0x58) : QColor(0x14, 0x6c, 0x2e);
}
QColor Theme::red() const {
    return isDark() ? QColor(0xff, 0x69, 0x61) : QColor(0xb3, 0x26, 0x1e);
}
QColor Theme::orange() const {
    return isDark() ? QColor(0xff, 0x9f, 0x0a) : QColor(0x9a, 0x4a, 0x00);
}
QColor Theme::yellow() const {
    return isDark() ? QColor(0xff, 0xd6, 0x0a) : QColor(0x7d, 0x5c, 0x00);
}
QColor Theme::gray() const {
    return isDark() ? QColor(0x8e, 0x8e, 0x93) : QColor(0x8e, 0x8e, 0x93);
}
// On a light page the text colours are dark enough to carry white text; on a dark one they
// are too light, so the fills are deeper tones of their own.
QColor Theme::accentFill() const {
    return isDark() ? QColor(0x0a, 0x64, 0xd2) : blue();
}
QColor Theme::successFill() const {
    return isDark() ? QColor(0x1a, 0x7f, 0x37) : green();
}
QColor Theme::warningFill() const {
    return isDark() ? QColor(0xa8, 0x54, 0x00) : orange();
}

QColor Theme::over(const QColor &top, const QColor &below) {
    const float a = top.alphaF();
    const auto mix = [a](float t, float b) { return t * a + b * (1 - a); };
    return QColor::fromRgbF(mix(top.redF(), below.redF()), mix(top.greenF(), below.greenF()),
                            mix(top.blueF(), below.blueF()));
}

// The layers as the QML draws them: the window base, the page fill, the gradient's
// stronger end; then a card's fill and frosted tint, or a section's.
QColor Theme::pageStart() const {
    return over(gradientStart(), over(windowBackground(), windowBase()));
}
QColor Theme::pageEnd() const {
    return over(gradientEnd(), over(windowBackground(), windowBase()));
}
QColor Theme::pageSurface() const {
    return pageStart();
}
QColor Theme::headerSurface() const {
    QColor fill = cardBackground();
    fill.setAlphaF(fill.alphaF() * 0.5f);
    return over(fill, pageSurface());
}
QColor Theme::cardSurface() const {
    QColor tint = blurTint();
    tint.setAlphaF(float(cardBlurOpacity()));
    return over(tint, over(cardBackground(), pageSurface()));
}
QColor Theme::sectionSurface() const {
    QColor fill = cardBackground();
    fill.setAlphaF(fill.alphaF() * 0.8f);
    QColor tint = blurTint();
    tint.setAlphaF(float(sectionBlurOpacity()));
    return over(tint, over(fill, pageSurface()));
}

QList<Theme::TextOnSurface> Theme::textOnSurfaces() const {
    const QList<std::pair<QString, QColor>> surfaces{{QStringLiteral("page"), pageSurface()},
                                                     {QStringLiteral("header"), headerSurface()},
                                                     {QStringLiteral("card"), cardSurface()},
                                                     {QStringLiteral("section"), sectionSurface()}};
    const QList<std::pair<QString, QColor>> texts{
        {QStringLiteral("primaryText"), primaryText()},
        {QStringLiteral("secondaryText"), secondaryText()},
        {QStringLiteral("blue"), blue()},
        {QStringLiteral("green"), green()},
        {QStringLiteral("red"), red()},
        {QStringLiteral("orange"), orange()},
        {QStringLiteral("yellow"), yellow()}};
    QList<TextOnSurface> out;
    for (const auto &[surface, surfaceColor] : surfaces) {
        for (const auto &[text, textColor] : texts)
            out.append({text, surface, textColor, surfaceColor});
    }
    // A selected file's count: blue on a faint blue capsule on a card.
    QColor capsule = blue();
    capsule.setAlphaF(0.1f);
    out.append({QStringLiteral("blue"), QStringLiteral("blue capsule"), blue(),
                over(capsule, cardSurface())});
    for (const auto &[fill, fillColor] : {std::pair{QStringLiteral("accentFill"), accentFill()},
                                          std::pair{QStringLiteral("successFill"), successFill()},
                                          std::pair{QStringLiteral("warningFill"), warningFill()}})
        out.append({QStringLiteral("white"), fill, QColor(Qt::white), fillColor});
    // The window's and the pages' titles.
    out.append({QStringLiteral("blue title"), QStringLiteral("page"), blue(), pageSurface(), true});
    return out;
}

QList<QFont> Theme::firstFrameFonts() const {
    const auto text = [](int pixels, QFont::Weight weight) {
        QFont f = QGuiApplication::font();
        f.setPixelSize(pixels);
        f.setWeight(weight);
        return f;
    };
    QList<QFont> fonts{QGuiApplication::font(),       text(titleSize, QFont::Bold),
                       text(title3Size, QFont::Bold), text(bodySize, QFont::Medium),
                       text(bodySize, QFont::Normal), text(subheadlineSize, QFont::Normal)};
    // The brand, the file card, a tool, a button, a tab.
    for (int pixels : {28, 24, title3Size, 18, 14}) {
        QFont icon(Icons::fontFamily());
        icon.setPixelSize(pixels);
        fonts << icon;
    }
    return fonts;
}

} // namespace quorvel
