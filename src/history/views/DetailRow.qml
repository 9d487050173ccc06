import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// A label and value row of the detail sheet; the value can be selected and copied.
RowLayout {
    id: row

    property string title
    property string value
    property string icon

    spacing: 12
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ": " + value

    Icon {
        name: row.icon
        size: 16
        color: Theme.secondaryText
        Layout.alignment: Qt.AlignTop
        Layout.topMargin: 2
        Layout.preferredWidth: 20
    }
    ColumnLayout {
        spacing: 2
        Layout.fillWidth: true
        Label {
            text: row.title
            font.pixelSize: Theme.captionSize
            color: Theme.secondaryText
        }
        TextEdit {
            text: row.value
            readOnly: true
            selectByMouse: true
            selectByKeyboard: true
            wrapMode: TextEdit.WrapAnywhere
            font.pixelSize: Theme.bodySize
            color: Theme.primaryText
            selectionColor: Theme.blue
            selectedTextColor: "white"
            Layout.fillWidth: true
            Accessible.name: row.title
        }
    }
}
