import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// A tab button of the header: blue and outlined while selected.
PlainButton {
    id: tab
    property bool selected: false

    color: selected ? theme.blue : theme.primaryText
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
        color: tab.selected ? Qt.rgba(tab.theme.blue.r, tab.theme.blue.g, tab.theme.blue.b, 0.15)
                            : Qt.rgba(tab.theme.cardBackground.r, tab.theme.cardBackground.g,
                                      tab.theme.cardBackground.b, tab.theme.cardBackground.a * 0.5)
        border.width: tab.visualFocus ? 2 : tab.selected ? 1 : 0
        border.color: tab.visualFocus ? tab.theme.blue
                                      : Qt.rgba(tab.theme.blue.r, tab.theme.blue.g, tab.theme.blue.b, 0.3)
    }
}
