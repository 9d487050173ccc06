import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.Assistant

// The question field and the send button; neither sends while the text is empty or a reply
// is pending.
RowLayout {
    id: root

    property ChatModel chat

    spacing: 12

    TextField {
        id: field
        placeholderText: "输入问题..."
        text: root.chat ? root.chat.inputText : ""
        onTextEdited: root.chat.inputText = text
        onAccepted: root.chat.sendInput()
        padding: 12
        color: Theme.primaryText
        placeholderTextColor: Theme.secondaryText
        font.pixelSize: Theme.bodySize
        Accessible.name: "输入问题..."
        Layout.fillWidth: true
        background: Item {
            VisualEffectView {
                anchors.fill: parent
                radius: 8
                opacity: Theme.sectionBlurOpacity
            }
            Rectangle {
                anchors.fill: parent
                radius: 8
                color: Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g,
                               Theme.cardBackground.b, Theme.cardBackground.a * 0.8)
                border.width: field.activeFocus ? 1 : 0
                border.color: Theme.blue
            }
        }
    }
    PlainButton {
        objectName: "sendButton"
        iconName: "arrow.up.circle.fill"
        iconSize: 24
        help: "发送"
        enabled: root.chat && root.chat.canSend
        opacity: enabled ? 1 : 0.5
        onClicked: root.chat.sendInput()
    }
}
