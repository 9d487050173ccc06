import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// The warning block, shown exactly while the run is in the error state. It grows from
// nothing around its centre and fades in, and leaves the same way.
GlassMorphicCard {
    id: card
    property ConversionPage page
    // The message stays while the block fades out.
    property string message

    objectName: "warmReminder"
    // Where the focus goes when the reminder appears.
    readonly property Item reselectButton: reselect
    // Follows the run from the moment the block is made on, so that it grows and fades in
    // also when it is made for an error that is already there.
    property bool shown: false
    onShownChanged: if (shown) message = page.warmReminderText
    Component.onCompleted: shown = Qt.binding(() => page.showWarmReminder)
    Connections {
        target: card.page
        function onProcessingStateChanged() {
            if (card.page.showWarmReminder)
                card.message = card.page.warmReminderText
        }
    }

    visible: opacity > 0
    opacity: shown ? 1 : 0
    scale: shown ? 1 : 0.00001
    transformOrigin: Item.Center
    Behavior on opacity { NumberAnimation { duration: 250; easing.type: Easing.InOutQuad } }
    Behavior on scale { NumberAnimation { duration: 250; easing.type: Easing.InOutQuad } }

    Accessible.role: Accessible.AlertMessage
    Accessible.name: qsTr("Warm reminder") + ": " + message

    contentItem: ColumnLayout {
        spacing: 16
        Icon {
            name: "exclamationmark.triangle.fill"
            size: 36
            color: Theme.orange
            Layout.alignment: Qt.AlignHCenter
        }
        Label {
            text: qsTr("Warm reminder")
            color: Theme.primaryText
            font.pixelSize: Theme.title2Size
            font.bold: true
            Layout.alignment: Qt.AlignHCenter
        }
        Label {
            objectName: "warmReminderText"
            text: card.message
            color: Theme.primaryText
            font.pixelSize: Theme.bodySize
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
        }
        PlainButton {
            id: reselect
            objectName: "reselectButton"
            text: qsTr("Reselect file")
            color: "white"
            leftPadding: 16
            rightPadding: 16
            topPadding: 8
            bottomPadding: 8
            Layout.alignment: Qt.AlignHCenter
            onClicked: card.page.reselect()
            background: Rectangle {
                radius: 8
                color: parent.pressed ? Qt.darker(Theme.accentFill, 1.2) : Theme.accentFill
                border.width: parent.visualFocus ? 2 : 0
                border.color: Theme.primaryText
            }
        }
    }
}
