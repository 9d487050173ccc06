import QtQuick
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui
import QtQuick.Templates as T

// A tab button of the header: blue and outlined while selected. A page tab to a screen
// reader, with `selected` as its checked state: Qt 6.4 takes a control's role from its type
// whatever Accessible.role says, hence a TabButton rather than the shared PlainButton. The
// template's, as for PlainButton: the style's would only add the implicit size below.
T.TabButton {
    id: tab
    property bool selected: false
    property string iconName
    property color color: selected ? Theme.blue : Theme.primaryText
    // Hover help and the screen reader's description.
    property string help

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)

    // The window decides which tab is selected; a click only asks.
    checkable: false
    checked: selected
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    spacing: 8
    leftPadding: 16
    rightPadding: 16
    topPadding: 8
    bottomPadding: 8
    Accessible.name: text
    Accessible.description: help
    // Qt Quick Controls ignore the accessibility press action on their own.
    Accessible.onPressAction: if (tab.enabled) tab.clicked()
    Keys.onReturnPressed: if (tab.enabled) tab.clicked()
    Keys.onEnterPressed: if (tab.enabled) tab.clicked()

    T.ToolTip.visible: help !== "" && (hovered || visualFocus)
    T.ToolTip.text: help
    T.ToolTip.delay: 500

    contentItem: RowLayout {
        spacing: tab.spacing
        Icon {
            name: tab.iconName
            size: 14
            color: tab.color
        }
        T.Label {
            text: tab.text
            color: tab.color
            font.pixelSize: 14
            font.weight: Font.Medium
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }

    background: Rectangle {
        implicitWidth: 0
        radius: 8
        color: tab.selected ? Qt.rgba(Theme.blue.r, Theme.blue.g, Theme.blue.b, 0.15)
                            : Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g,
                                      Theme.cardBackground.b, Theme.cardBackground.a * 0.5)
        border.width: tab.visualFocus ? 2 : tab.selected ? 1 : 0
        border.color: tab.visualFocus ? Theme.blue
                                      : Qt.rgba(Theme.blue.r, Theme.blue.g, Theme.blue.b, 0.3)
    }
}
