import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// One message: the user's on the trailing side in blue, the assistant's on the leading side
// on a frosted card; the time under it.
Item {
    id: root

    property string text
    property bool isUser
    property string time

    implicitHeight: column.implicitHeight
    Accessible.role: Accessible.StaticText
    Accessible.name: (isUser ? "我：" : "AI助手：") + text

    ColumnLayout {
        id: column
        spacing: 4
        // The label's implicit width already holds its padding on both sides; rounded up,
        // since the layout rounds widths and a shade too narrow wraps the last letter.
        width: Math.min(root.width * 0.75, Math.ceil(bubbleText.implicitWidth))
        anchors.right: root.isUser ? parent.right : undefined
        anchors.left: root.isUser ? undefined : parent.left

        Label {
            id: bubbleText
            objectName: "bubbleText"
            text: root.text
            wrapMode: Text.Wrap
            padding: 12
            color: root.isUser ? "white" : Theme.primaryText
            font.pixelSize: Theme.bodySize
            Layout.fillWidth: true
            background: Item {
                SoftShadow {
                    visible: !root.isUser
                    anchors.fill: parent
                    radius: 16
                    blur: 3
                    offsetY: 1
                    strength: 0.05
                }
                VisualEffectView {
                    visible: !root.isUser
                    anchors.fill: parent
                    radius: 16
                    opacity: Theme.sectionBlurOpacity
                }
                Rectangle {
                    anchors.fill: parent
                    radius: 16
                    color: root.isUser ? Theme.accentFill
                                       : Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g,
                                                 Theme.cardBackground.b, Theme.cardBackground.a * 0.8)
                    border.width: root.isUser ? 0 : 0.5
                    border.color: Qt.rgba(1, 1, 1, Theme.isDark ? 0.2 : 0.3)
                }
            }
        }
        Label {
            text: root.time
            color: Theme.secondaryText
            font.pixelSize: Theme.captionSize - 1
            Layout.alignment: root.isUser ? Qt.AlignRight : Qt.AlignLeft
        }
    }
}
