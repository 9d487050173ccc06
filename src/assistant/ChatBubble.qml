import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// One message: the user's on the trailing side in blue, the assistant's on the leading side
// on a frosted card; the time under it.
Item {
    id: root

    property Theme theme
    property string text
    property bool isUser
    property string time

    implicitHeight: column.implicitHeight
    Accessible.role: Accessible.StaticText
    Accessible.name: (isUser ? "我：" : "AI助手：") + text

    ColumnLayout {
        id: column
        spacing: 4
        width: Math.min(root.width * 0.75, bubbleText.implicitWidth + 24)
        anchors.right: root.isUser ? parent.right : undefined
        anchors.left: root.isUser ? undefined : parent.left

        Label {
            id: bubbleText
            text: root.text
            wrapMode: Text.Wrap
            padding: 12
            color: root.isUser ? "white" : (root.theme ? root.theme.primaryText : "black")
            font.pixelSize: root.theme ? root.theme.bodySize : 14
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
                    theme: root.theme
                    radius: 16
                    opacity: root.theme ? root.theme.sectionBlurOpacity : 0.3
                }
                Rectangle {
                    anchors.fill: parent
                    radius: 16
                    color: root.isUser ? (root.theme ? root.theme.blue : "blue")
                                       : root.theme ? Qt.rgba(root.theme.cardBackground.r, root.theme.cardBackground.g,
                                                              root.theme.cardBackground.b, root.theme.cardBackground.a * 0.8)
                                                    : "white"
                    border.width: root.isUser ? 0 : 0.5
                    border.color: Qt.rgba(1, 1, 1, root.theme && root.theme.isDark ? 0.2 : 0.3)
                }
            }
        }
        Label {
            text: root.time
            color: root.theme ? root.theme.secondaryText : "gray"
            font.pixelSize: root.theme ? root.theme.captionSize - 1 : 10
            Layout.alignment: root.isUser ? Qt.AlignRight : Qt.AlignLeft
        }
    }
}
