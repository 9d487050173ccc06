#pragma once

#include <QList>
#include <QObject>
#include <QString>
#include <QVariantMap>
#include <QtQml/qqmlregistration.h>

#include <optional>

namespace quorvel {

// The assistant's three features, in the order the home page shows them. The title is the
// raw value.
class FeatureType : public QObject {
    Q_OBJECT
    QML_ELEMENT
    QML_UNCREATABLE("FeatureType only names the cases")

public:
    enum Case { Analysis, Qa, Processing };
    Q_ENUM(Case)

    struct Function {
        QString text;
        QString icon;
    };

    static QList<Case> allCases() { return {Analysis, Qa, Processing}; }
    static QString rawValue(Case feature) { return title(feature); }
    static std::optional<Case> fromRawValue(const QString &raw);
    static QString title(Case feature);
    static QString description(Case feature);
    static QString icon(Case feature);
    static QList<Function> functions(Case feature);
    // { feature, title, description, icon, functions: [{ text, icon }] } for the views.
    static QVariantMap describe(Case feature);
};

} // namespace quorvel
