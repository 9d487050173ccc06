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
    property Theme theme

    spacing: 12
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ": " + value

    Icon {
        name: row.icon
        size: 16
        color: row.theme ? row.theme.secondaryText : "gray"
        Layout.alignment: Qt.AlignTop
        Layout.topMargin: 2
        Layout.preferredWidth: 20
    }
    ColumnLayout {
        spacing: 2
        Layout.fillWidth: true
        Label {
            text: row.title
            font.pixelSize: row.theme ? row.theme.captionSize : 11
            color: row.theme ? row.theme.secondaryText : "gray"
        }
        TextEdit {
            text: row.value
            readOnly: true
            selectByMouse: true
            selectByKeyboard: true
            wrapMode: TextEdit.WrapAnywhere
            font.pixelSize: row.theme ? row.theme.bodySize : 14
            color: row.theme ? row.theme.primaryText : "black"
            selectionColor: row.theme ? row.theme.blue : "#006ee6"
            selectedTextColor: "white"
            Layout.fillWidth: true
            Accessible.name: row.title
        }
    }
}
