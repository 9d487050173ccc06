import QtQuick
import Quorvel.Ui
import QtQuick.Layouts
import QtQuick.Templates as T

// A button without chrome: an optional icon and an optional label. Every button of the app
// derives from this one, so keyboard focus, tooltips and the screen reader's press action
// behave the same everywhere. Built on the template rather than the style's AbstractButton,
// which adds only the implicit size below: one type less to load and to nest at start-up.
T.AbstractButton {
    id: control

    property string iconName
    property real iconSize: 18
    property color color: Theme.blue
    property color iconColor: color
    property int fontSize: Theme.bodySize
    property int fontWeight: Font.Normal
    // Hover help and the screen reader's description.
    property string help

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    focusPolicy: Qt.StrongFocus
    spacing: 8
    hoverEnabled: true
    opacity: enabled ? 1 : 0.45
    padding: 4
    Accessible.role: Accessible.Button
    Accessible.name: text !== "" ? text : help
    Accessible.description: help
    Accessible.focusable: true
    // Qt Quick Controls ignore the accessibility press action on their own.
    Accessible.onPressAction: if (control.enabled) control.clicked()
    Keys.onReturnPressed: if (control.enabled) control.clicked()
    Keys.onEnterPressed: if (control.enabled) control.clicked()

    // The template's attached tool tip is the style's own: it shows the style's ToolTip when
    // needed, without loading that type for every window that merely has buttons.
    T.ToolTip.visible: help !== "" && (hovered || visualFocus)
    T.ToolTip.text: help
    T.ToolTip.delay: 500

    contentItem: RowLayout {
        spacing: control.spacing
        Icon {
            visible: control.iconName !== ""
            name: control.iconName
            size: control.iconSize
            color: control.iconColor
        }
        T.Label {
            visible: control.text !== ""
            text: control.text
            color: control.color
            font.pixelSize: control.fontSize
            font.weight: control.fontWeight
            elide: Text.ElideRight
            Layout.fillWidth: true
        }
    }

    background: Rectangle {
        radius: 6
        color: control.pressed ? Qt.rgba(0.5, 0.5, 0.5, 0.18)
                               : control.hovered ? Qt.rgba(0.5, 0.5, 0.5, 0.10) : "transparent"
        border.width: control.visualFocus ? 2 : 0
        border.color: Theme.blue
    }
}
