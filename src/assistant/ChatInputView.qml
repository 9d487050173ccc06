import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.Assistant

// The question field and the send button; neither sends while the text is empty or a reply
// is pending.
RowLayout {
    id: root

    property Theme theme
    property ChatModel chat

    spacing: 12

    TextField {
        id: field
        placeholderText: "输入问题..."
        text: root.chat ? root.chat.inputText : ""
        onTextEdited: root.chat.inputText = text
        onAccepted: root.chat.sendInput()
        padding: 12
        color: root.theme ? root.theme.primaryText : "black"
        placeholderTextColor: root.theme ? root.theme.secondaryText : "gray"
        font.pixelSize: root.theme ? root.theme.bodySize : 14
        Accessible.name: "输入问题..."
        Layout.fillWidth: true
        background: Item {
            VisualEffectView {
                anchors.fill: parent
                theme: root.theme
                radius: 8
                opacity: root.theme ? root.theme.sectionBlurOpacity : 0.3
            }
            Rectangle {
                anchors.fill: parent
                radius: 8
                color: root.theme ? Qt.rgba(root.theme.cardBackground.r, root.theme.cardBackground.g,
                                            root.theme.cardBackground.b, root.theme.cardBackground.a * 0.8)
                                  : "white"
                border.width: field.activeFocus ? 1 : 0
                border.color: root.theme ? root.theme.blue : "blue"
            }
        }
    }
    PlainButton {
        objectName: "sendButton"
        theme: root.theme
        iconName: "arrow.up.circle.fill"
        iconSize: 24
        help: "发送"
        enabled: root.chat && root.chat.canSend
        opacity: enabled ? 1 : 0.5
        onClicked: root.chat.sendInput()
    }
}
