#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <QtQml/qqmlregistration.h>

namespace quorvel {

// Icon identifiers of the design ("doc.fill", "crown.fill", …) mapped to ligature names of the
// Material Icons font. QML names identifiers only; this table is the one place that knows
// glyphs, so a missing mapping shows up in one test instead of as a blank button.
class Icons : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_SINGLETON
    Q_PROPERTY(QString fontFamily READ fontFamily CONSTANT FINAL)

public:
    using QObject::QObject;

    static QString fontFamily() { return QStringLiteral("Material Icons"); }
    // Reads fontconfig's configuration and font caches, making it offer only the TrueType file
    // of the icon font when there is one. Call before the application's font list is first
    // read; any thread will do.
    static void preferTrueTypeFont();
    // The ligature for an identifier; "help_outline" for an unknown one, so it still draws.
    Q_INVOKABLE static QString ligature(const QString &identifier);
    static bool isKnown(const QString &identifier);
    static QStringList identifiers();
};

} // namespace quorvel
