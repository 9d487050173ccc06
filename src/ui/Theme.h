#pragma once

#include <QColor>
#include <QFont>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace quorvel {

class ColorScheme;

// The window's two-valued colour theme: its raw values, its palette and the window's type
// scale in one place. One instance per engine, read by every component as the Theme
// singleton; `value` is the one property that decides the scheme, so switching it redraws
// everything. It follows the desktop's colour scheme (see ColorScheme) from its start.
class Theme : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(Case value READ value WRITE setValue NOTIFY changed FINAL)
    Q_PROPERTY(QString rawValue READ rawValue NOTIFY changed FINAL)
    Q_PROPERTY(bool isDark READ isDark NOTIFY changed FINAL)

    // Palette of cards, pages and text.
    Q_PROPERTY(QColor cardBackground READ cardBackground NOTIFY changed FINAL)
    Q_PROPERTY(QColor windowBase READ windowBase NOTIFY changed FINAL)
    Q_PROPERTY(QColor windowBackground READ windowBackground NOTIFY changed FINAL)
    Q_PROPERTY(QColor gradientStart READ gradientStart CONSTANT FINAL)
    Q_PROPERTY(QColor gradientEnd READ gradientEnd CONSTANT FINAL)
    // The window base, its page fill and the gradient's two ends as one opaque gradient.
    Q_PROPERTY(QColor pageStart READ pageStart NOTIFY changed FINAL)
    Q_PROPERTY(QColor pageEnd READ pageEnd NOTIFY changed FINAL)
    Q_PROPERTY(QColor cardBorder READ cardBorder NOTIFY changed FINAL)
    Q_PROPERTY(double cardBlurOpacity READ cardBlurOpacity NOTIFY changed FINAL)
    Q_PROPERTY(double cardShadowRadius READ cardShadowRadius NOTIFY changed FINAL)
    Q_PROPERTY(double sectionBlurOpacity READ sectionBlurOpacity NOTIFY changed FINAL)
    Q_PROPERTY(QColor blurTint READ blurTint NOTIFY changed FINAL)
    Q_PROPERTY(QColor cardFill READ cardFill NOTIFY changed FINAL)
    Q_PROPERTY(QColor primaryText READ primaryText NOTIFY changed FINAL)
    Q_PROPERTY(QColor secondaryText READ secondaryText NOTIFY changed FINAL)

    // The named colours of the design, toned for the theme.
    Q_PROPERTY(QColor blue READ blue NOTIFY changed FINAL)
    Q_PROPERTY(QColor green READ green NOTIFY changed FINAL)
    Q_PROPERTY(QColor red READ red NOTIFY changed FINAL)
    Q_PROPERTY(QColor orange READ orange NOTIFY changed FINAL)
    Q_PROPERTY(QColor yellow READ yellow NOTIFY changed FINAL)
    Q_PROPERTY(QColor gray READ gray NOTIFY changed FINAL)
    // Fills that carry white text (buttons, selected chips, the user's chat bubbles).
    Q_PROPERTY(QColor accentFill READ accentFill NOTIFY changed FINAL)
    Q_PROPERTY(QColor successFill READ successFill NOTIFY changed FINAL)
    Q_PROPERTY(QColor warningFill READ warningFill NOTIFY changed FINAL)

    // Type scale, in pixels.
    Q_PROPERTY(int titleSize MEMBER titleSize CONSTANT FINAL)
    Q_PROPERTY(int title2Size MEMBER title2Size CONSTANT FINAL)
    Q_PROPERTY(int title3Size MEMBER title3Size CONSTANT FINAL)
    Q_PROPERTY(int headlineSize MEMBER headlineSize CONSTANT FINAL)
    Q_PROPERTY(int bodySize MEMBER bodySize CONSTANT FINAL)
    Q_PROPERTY(int subheadlineSize MEMBER subheadlineSize CONSTANT FINAL)
    Q_PROPERTY(int captionSize MEMBER captionSize CONSTANT FINAL)

public:
    enum class Case { Light, Dark };
    Q_ENUM(Case)

    // Follows the desktop's colour scheme.
    explicit Theme(QObject *parent = nullptr);
    // Follows `scheme` (none: stays light until told otherwise).
    Theme(ColorScheme *scheme, QObject *parent);

    static QString rawValue(Case c);
    // Only the exact raw values "light" and "dark" name a theme.
    static std::optional<Case> fromRawValue(const QString &raw);
    static QList<Case> allCases() { return {Case::Light, Case::Dark}; }

    Case value() const { return m_value; }
    void setValue(Case value);
    QString rawValue() const { return rawValue(m_value); }
    // Switches to the theme of that raw value; refuses (false, unchanged) any other text.
    Q_INVOKABLE bool setRawValue(const QString &raw);
    Q_INVOKABLE QStringList allRawValues() const;
    bool isDark() const { return m_value == Case::Dark; }

    QColor cardBackground() const;
    QColor windowBase() const;
    QColor windowBackground() const;
    QColor gradientStart() const;
    QColor gradientEnd() const;
    QColor pageStart() const;
    QColor pageEnd() const;
    QColor cardBorder() const;
    double cardBlurOpacity() const { return isDark() ? 0.3 : 0.5; }
    double cardShadowRadius() const { return isDark() ? 8 : 10; }
    double sectionBlurOpacity() const { return isDark() ? 0.1 : 0.3; }
    QColor blurTint() const;
    QColor cardFill() const;
    QColor primaryText() const;
    QColor secondaryText() const;
    QColor blue() const;
    QColor green() const;
    QColor red() const;
    QColor orange() const;
    QColor yellow() const;
    QColor gray() const;
    QColor accentFill() const;
    QColor successFill() const;
    QColor warningFill() const;

    // `top` painted over the opaque `below`.
    static QColor over(const QColor &top, const QColor &below);
    // The opaque colours text ends up on once the translucent layers are painted: the page
    // where its blue tint is strongest, the header, a card, a titled section.
    QColor pageSurface() const;
    QColor headerSurface() const;
    QColor cardSurface() const;
    QColor sectionSurface() const;

    // Each text colour with each surface it is drawn on, for checking their contrast.
    struct TextOnSurface {
        QString text;
        QString surface;
        QColor textColor;
        QColor surfaceColor;
        bool large = false; // titles, which need less contrast
    };
    QList<TextOnSurface> textOnSurfaces() const;

    // What the window's first frame is drawn with: the header's and the first page's text in
    // the type scale, and the icon font at the sizes they show it. Start-up readies these on a
    // spare core while the window's types load; one missing here costs only its own set-up.
    QList<QFont> firstFrameFonts() const;

    int titleSize = 26;
    int title2Size = 21;
    int title3Size = 19;
    int headlineSize = 15;
    int bodySize = 14;
    int subheadlineSize = 13;
    int captionSize = 11;

Q_SIGNALS:
    void changed();

private:
    Case m_value = Case::Light;
};

} // namespace quorvel
