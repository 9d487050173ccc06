import QtQuick
import Quorvel.Ui

// A soft drop shadow without a graphics effect: a few widening translucent rounded
// rectangles behind the shape, offset downwards.
Item {
    id: root
    property real radius: 16
    property real blur: 10
    property real offsetY: 4
    property real strength: 0.1

    Repeater {
        model: 4
        Rectangle {
            readonly property real grow: root.blur * (index + 1) / 8
            x: -grow
            y: root.offsetY - grow
            width: root.width + 2 * grow
            height: root.height + 2 * grow
            radius: root.radius + grow
            color: Qt.rgba(0, 0, 0, root.strength / 4)
        }
    }
}
