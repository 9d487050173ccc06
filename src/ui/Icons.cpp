#include "Icons.h"

#include <QHash>
#include <QStandardPaths>

#include <fontconfig/fontconfig.h>

namespace quorvel {

namespace {
const QHash<QString, QString> &table() {
    static const QHash<QString, QString> t{
        {QStringLiteral("a.circle.fill"), QStringLiteral("text_fields")},
        {QStringLiteral("arrow.clockwise"), QStringLiteral("refresh")},
        {QStringLiteral("arrow.clockwise.circle"), QStringLiteral("autorenew")},
        {QStringLiteral("arrow.clockwise.circle.fill"), QStringLiteral("autorenew")},
        {QStringLiteral("arrow.down.circle.fill"), QStringLiteral("download_for_offline")},
        {QStringLiteral("arrow.down.right.and.arrow.up.left"), QStringLiteral("compress")},
        {QStringLiteral("arrow.down.to.line"), QStringLiteral("download")},
        {QStringLiteral("arrow.left.arrow.right"), QStringLiteral("swap_horiz")},
        {QStringLiteral("arrow.right.circle.fill"), QStringLiteral("arrow_circle_right")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("sync")},
        {QStringLiteral("arrow.up.circle.fill"), QStringLiteral("arrow_circle_up")},
        {QStringLiteral("brain.head.profile"), QStringLiteral("psychology")},
        {QStringLiteral("bubble.left.and.bubble.right.fill"), QStringLiteral("forum")},
        {QStringLiteral("bubble.left.and.text.bubble.right.fill"),
         QStringLiteral("question_answer")},
        {QStringLiteral("bubble.left.fill"), QStringLiteral("chat_bubble")},
        {QStringLiteral("chart.bar.fill"), QStringLiteral("bar_chart")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("check_circle")},
        {QStringLiteral("checkmark.square.fill"), QStringLiteral("check_box")},
        {QStringLiteral("chevron.left"), QStringLiteral("chevron_left")},
        {QStringLiteral("chevron.right"), QStringLiteral("chevron_right")},
        {QStringLiteral("clock.fill"), QStringLiteral("schedule")},
        {QStringLiteral("crown.fill"), QStringLiteral("workspace_premium")},
        {QStringLiteral("doc.fill"), QStringLiteral("description")},
        {QStringLiteral("doc.fill.badge.checkmark"), QStringLiteral("task")},
        {QStringLiteral("doc.on.doc.fill"), QStringLiteral("content_copy")},
        {QStringLiteral("doc.plaintext.fill"), QStringLiteral("notes")},
        {QStringLiteral("doc.richtext"), QStringLiteral("article")},
        {QStringLiteral("doc.richtext.fill"), QStringLiteral("article")},
        {QStringLiteral("doc.text.fill"), QStringLiteral("text_snippet")},
        {QStringLiteral("doc.text.magnifyingglass"), QStringLiteral("find_in_page")},
        {QStringLiteral("doc.viewfinder"), QStringLiteral("document_scanner")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("warning")},
        {QStringLiteral("eye.fill"), QStringLiteral("visibility")},
        {QStringLiteral("eye.slash.fill"), QStringLiteral("visibility_off")},
        {QStringLiteral("folder.fill"), QStringLiteral("folder")},
        {QStringLiteral("link"), QStringLiteral("link")},
        {QStringLiteral("list.bullet"), QStringLiteral("format_list_bulleted")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("search")},
        {QStringLiteral("note.text"), QStringLiteral("sticky_note_2")},
        {QStringLiteral("person.crop.circle"), QStringLiteral("account_circle")},
        {QStringLiteral("photo.fill"), QStringLiteral("image")},
        {QStringLiteral("rectangle.3.group.fill"), QStringLiteral("slideshow")},
        {QStringLiteral("rectangle.stack.fill"), QStringLiteral("layers")},
        {QStringLiteral("square"), QStringLiteral("check_box_outline_blank")},
        {QStringLiteral("square.and.arrow.up"), QStringLiteral("ios_share")},
        {QStringLiteral("square.and.arrow.up.fill"), QStringLiteral("ios_share")},
        {QStringLiteral("star.fill"), QStringLiteral("star")},
        {QStringLiteral("sum"), QStringLiteral("functions")},
        {QStringLiteral("tablecells.fill"), QStringLiteral("table_chart")},
        {QStringLiteral("tag.fill"), QStringLiteral("sell")},
        {QStringLiteral("text.alignleft"), QStringLiteral("format_align_left")},
        {QStringLiteral("text.bubble.fill"), QStringLiteral("chat")},
        {QStringLiteral("wand.and.stars"), QStringLiteral("auto_awesome")},
        {QStringLiteral("xmark"), QStringLiteral("close")},
        {QStringLiteral("xmark.circle"), QStringLiteral("highlight_off")},
        {QStringLiteral("xmark.circle.fill"), QStringLiteral("cancel")},
    };
    return t;
}
} // namespace

void Icons::preferTrueTypeFont() {
    // Debian installs the icon font as TrueType, WOFF and WOFF2 under one name, and Qt keeps the
    // WOFF2, which FreeType decompresses on every start (about 5 ms of the first frame). With the
    // web formats left out of fontconfig's list, the TrueType file is the one Qt finds.
    if (QStandardPaths::locate(
            QStandardPaths::GenericDataLocation,
            QStringLiteral(
                "fonts/truetype/material-design-icons-iconfont/MaterialIcons-Regular.ttf"))
            .isEmpty()) {
        FcInit(); // the configuration Qt would read, read here
        return;
    }
    static const char rule[] = "<?xml version=\"1.0\"?><fontconfig><selectfont><rejectfont>"
                               "<glob>*/material-design-icons-iconfont/*.woff</glob>"
                               "<glob>*/material-design-icons-iconfont/*.woff2</glob>"
                               "</rejectfont></selectfont></fontconfig>";
    FcConfig *config = FcInitLoadConfig();
    if (!config)
        return;
    if (FcConfigParseAndLoadFromMemory(config, reinterpret_cast<const FcChar8 *>(rule), FcFalse) &&
        FcConfigBuildFonts(config))
        FcConfigSetCurrent(config); // takes its own reference
    FcConfigDestroy(config);
}

QString Icons::ligature(const QString &identifier) {
    return table().value(identifier, QStringLiteral("help_outline"));
}

bool Icons::isKnown(const QString &identifier) {
    return table().contains(identifier);
}

QStringList Icons::identifiers() {
    QStringList keys = table().keys();
    keys.sort();
    return keys;
}

} // namespace quorvel
