import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// The alert of a failed download or retry: the message as its title and one "OK".
Dialog {
    id: alert

    property string message

    modal: true
    anchors.centerIn: Overlay.overlay
    width: Math.min(420, (Overlay.overlay ? Overlay.overlay.width : 460) - 40)
    padding: 20
    closePolicy: Popup.CloseOnEscape

    background: Rectangle {
        radius: 14
        color: Theme.windowBase
        border.width: 0.5
        border.color: Qt.rgba(0, 0, 0, 0.2)
    }

    contentItem: ColumnLayout {
        spacing: 16
        Label {
            objectName: "errorAlertText"
            text: alert.message
            wrapMode: Text.Wrap
            font.pixelSize: Theme.headlineSize
            font.bold: true
            color: Theme.primaryText
            Layout.fillWidth: true
            Accessible.role: Accessible.AlertMessage
            Accessible.name: alert.message
        }
        ProminentButton {
            text: qsTr("OK")
            Layout.alignment: Qt.AlignRight
            onClicked: alert.close()
        }
    }
}
