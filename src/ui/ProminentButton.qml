import QtQuick
import Quorvel.Ui
import QtQuick.Controls
import QtQuick.Layouts

// The filled blue button of a form or an upload block; shows a spinner beside its label
// while `busy`.
PlainButton {
    id: control

    property bool busy: false
    property string busyText

    color: "white"
    fontWeight: Font.DemiBold
    padding: 10
    horizontalPadding: 18
    Accessible.name: busy && busyText !== "" ? busyText : text

    contentItem: RowLayout {
        spacing: 8
        Item { Layout.fillWidth: true }
        Spinner {
            running: control.busy
            color: "white"
            size: control.fontSize + 2
        }
        Icon {
            visible: control.iconName !== "" && !control.busy
            name: control.iconName
            size: control.iconSize
            color: "white"
        }
        Label {
            visible: text !== ""
            text: control.busy && control.busyText !== "" ? control.busyText : control.text
            color: "white"
            font.pixelSize: control.fontSize
            font.weight: control.fontWeight
        }
        Item { Layout.fillWidth: true }
    }

    background: Rectangle {
        radius: 10
        color: {
            const base = Theme.accentFill
            return control.pressed ? Qt.darker(base, 1.2) : control.hovered ? Qt.lighter(base, 1.08) : base
        }
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.primaryText
    }
}
