#include "Theme.h"

#include "ColorScheme.h"

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

QColor Theme::primaryText() const {
    return isDark() ? QColor(0xf2, 0xf2, 0xf7) : QColor(0x1d, 0x1d, 0x1f);
}
QColor Theme::secondaryText() const {
    return isDark() ? QColor(0xae, 0xae, 0xb2) : QColor(0x5f, 0x5f, 0x66);
}
QColor Theme::blue() const {
    return isDark() ? QColor(0x0a, 0x84, 0xff) : QColor(0x00, 0x6e, 0xe6);
}
QColor Theme::green() const {
    return isDark() ? QColor(0x30, 0xd1, 0x58) : QColor(0x1f, 0x9d, 0x45);
}
QColor Theme::red() const {
    return isDark() ? QColor(0xff, 0x45, 0x3a) : QColor(0xd7, 0x26, 0x1e);
}
QColor Theme::orange() const {
    return isDark() ? QColor(0xff, 0x9f, 0x0a) : QColor(0xc8, 0x6a, 0x00);
}
QColor Theme::yellow() const {
    return isDark() ? QColor(0xff, 0xd6, 0x0a) : QColor(0xb8, 0x8a, 0x00);
}
QColor Theme::gray() const {
    return isDark() ? QColor(0x8e, 0x8e, 0x93) : QColor(0x8e, 0x8e, 0x93);
}

} // namespace quorvel
