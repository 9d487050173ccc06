import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.Assistant

// The assistant's chat page: header, conversation, input row.
ColumnLayout {
    id: root

    property ChatModel chat
    property string selectedPDFName
    signal back()

    spacing: 0

    ChatHeaderView {
        selectedPDFName: root.selectedPDFName
        onBack: root.back()
        Layout.fillWidth: true
    }
    ChatMessagesView {
        objectName: "chatMessages"
        chat: root.chat
        Layout.fillWidth: true
        Layout.fillHeight: true
    }
    ChatInputView {
        chat: root.chat
        Layout.fillWidth: true
        Layout.margins: 16
    }
}
