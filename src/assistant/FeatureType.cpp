#include "FeatureType.h"

#include <QVariantList>

namespace quorvel {

std::optional<FeatureType::Case> FeatureType::fromRawValue(const QString &raw) {
    for (Case feature : allCases()) {
        if (rawValue(feature) == raw)
            return feature;
    }
    return std::nullopt;
}

QString FeatureType::title(Case feature) {
    switch (feature) {
    case Analysis:
        return QStringLiteral("PDF智能分析");
    case Qa:
        return QStringLiteral("智能问答");
    case Processing:
        return QStringLiteral("内容处理");
    }
    return {};
}

QString FeatureType::description(Case feature) {
    switch (feature) {
    case Analysis:
        return QStringLiteral("提取文档结构、概念和信息");
    case Qa:
        return QStringLiteral("基于文档内容进行智能问答");
    case Processing:
        return QStringLiteral("转换文档为不同格式和视图");
    }
    return {};
}

QString FeatureType::icon(Case feature) {
    switch (feature) {
    case Analysis:
        return QStringLiteral("doc.text.magnifyingglass");
    case Qa:
        return QStringLiteral("bubble.left.and.bubble.right.fill");
    case Processing:
        return QStringLiteral("wand.and.stars");
    }
    return {};
}

QList<FeatureType::Function> FeatureType::functions(Case feature) {
    switch (feature) {
    case Analysis:
        return {{QStringLiteral("自动生成文档大纲"), QStringLiteral("list.bullet")},
                {QStringLiteral("提取关键信息和重点"), QStringLiteral("star.fill")},
                {QStringLiteral("生成文档摘要"), QStringLiteral("doc.text.fill")},
                {QStringLiteral("识别文档主题和关键词"), QStringLiteral("tag.fill")}};
    case Qa:
        return {{QStringLiteral("基于PDF内容的问答"),
                 QStringLiteral("bubble.left.and.text.bubble.right.fill")},
                {QStringLiteral("多文档交叉引用和对比"), QStringLiteral("doc.on.doc.fill")},
                {QStringLiteral("生成解释和注释"), QStringLiteral("text.bubble.fill")}};
    case Processing:
        return {{QStringLiteral("自动生成思维导图"), QStringLiteral("brain.head.profile")},
                {QStringLiteral("生成学习笔记"), QStringLiteral("note.text")},
                {QStringLiteral("提供翻译服务"), QStringLiteral("arrow.left.arrow.right")},
                {QStringLiteral("生成内容简报"), QStringLiteral("doc.richtext")}};
    }
    return {};
}

QVariantMap FeatureType::describe(Case feature) {
    QVariantList rows;
    for (const Function &f : functions(feature))
        rows.append(
            QVariantMap{{QStringLiteral("text"), f.text}, {QStringLiteral("icon"), f.icon}});
    return {{QStringLiteral("feature"), int(feature)},
            {QStringLiteral("title"), title(feature)},
            {QStringLiteral("description"), description(feature)},
            {QStringLiteral("icon"), icon(feature)},
            {QStringLiteral("functions"), rows}};
}

} // namespace quorvel
