import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// A filter chip: white on blue while selected, plain text on a faint fill otherwise.
PlainButton {
    id: chip

    property string title
    property bool isSelected: false

    text: title
    color: isSelected ? "white" : Theme.primaryText
    fontSize: Theme.subheadlineSize
    leftPadding: 16
    rightPadding: 16
    topPadding: 8
    bottomPadding: 8
    checkable: false
    checked: isSelected
    Accessible.role: Accessible.RadioButton
    Accessible.checkable: true
    Accessible.checked: isSelected

    background: Rectangle {
        radius: 10
        color: chip.isSelected ? Theme.accentFill
                               : chip.hovered ? Qt.rgba(0.5, 0.5, 0.5, 0.18) : Qt.rgba(0.5, 0.5, 0.5, 0.1)
        border.width: chip.visualFocus ? 2 : 0
        border.color: Theme.primaryText
        Behavior on color { ColorAnimation { duration: 300; easing.type: Easing.OutBack; easing.overshoot: 0.6 } }
    }
}
