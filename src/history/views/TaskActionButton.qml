import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// Download, Retry or Preview: white on a coloured fill; a spinner and 0.7 opacity while busy.
PlainButton {
    id: button

    property bool busy: false
    // One of the theme's fills, which carry white text in either scheme.
    property color fill: Theme.accentFill

    color: "white"
    fontSize: Theme.captionSize + 1
    iconSize: fontSize + 2
    leftPadding: 10
    rightPadding: 10
    topPadding: 5
    bottomPadding: 5
    opacity: busy ? 0.7 : 1
    Accessible.description: busy ? qsTr("Working") : help

    contentItem: RowLayout {
        spacing: 4
        Spinner {
            running: button.busy
            size: button.iconSize
            color: "white"
        }
        Icon {
            visible: !button.busy
            name: button.iconName
            size: button.iconSize
            color: "white"
        }
        Label {
            visible: !button.busy
            text: button.text
            color: "white"
            font.pixelSize: button.fontSize
            font.weight: Font.DemiBold
        }
    }

    background: Rectangle {
        radius: 7
        color: button.pressed ? Qt.darker(button.fill, 1.2)
                              : button.hovered ? Qt.lighter(button.fill, 1.08) : button.fill
        border.width: button.visualFocus ? 2 : 0
        border.color: Theme.primaryText
    }
}
