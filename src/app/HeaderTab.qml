import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// A tab button of the header: blue and outlined while selected.
PlainButton {
    id: tab
    property bool selected: false

    color: selected ? Theme.blue : Theme.primaryText
    iconColor: color
    iconSize: 14
    fontSize: 14
    fontWeight: Font.Medium
    leftPadding: 16
    rightPadding: 16
    topPadding: 8
    bottomPadding: 8
    checkable: false
    checked: selected
    Accessible.role: Accessible.PageTab
    Accessible.checkable: true
    Accessible.checked: selected

    background: Rectangle {
        radius: 8
        color: tab.selected ? Qt.rgba(Theme.blue.r, Theme.blue.g, Theme.blue.b, 0.15)
                            : Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g,
                                      Theme.cardBackground.b, Theme.cardBackground.a * 0.5)
        border.width: tab.visualFocus ? 2 : tab.selected ? 1 : 0
        border.color: tab.visualFocus ? Theme.blue
                                      : Qt.rgba(Theme.blue.r, Theme.blue.g, Theme.blue.b, 0.3)
    }
}
