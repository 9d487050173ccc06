import QtQuick

// A soft drop shadow without a graphics effect: four widening translucent rounded rectangles
// behind the shape, offset downwards, each reaching an eighth of the blur further. Written
// out rather than repeated, so that their bindings are compiled ahead like the rest: a card
// costs four plain rectangles at start-up.
Item {
    id: root
    property real radius: 16
    property real blur: 10
    property real offsetY: 4
    property real strength: 0.1

    readonly property real step: blur / 8
    readonly property color ringColor: Qt.rgba(0, 0, 0, strength / 4)

    Rectangle {
        x: -root.step
        y: root.offsetY - root.step
        width: root.width + 2 * root.step
        height: root.height + 2 * root.step
        radius: root.radius + root.step
        color: root.ringColor
    }
    Rectangle {
        x: -2 * root.step
        y: root.offsetY - 2 * root.step
        width: root.width + 4 * root.step
        height: root.height + 4 * root.step
        radius: root.radius + 2 * root.step
        color: root.ringColor
    }
    Rectangle {
        x: -3 * root.step
        y: root.offsetY - 3 * root.step
        width: root.width + 6 * root.step
        height: root.height + 6 * root.step
        radius: root.radius + 3 * root.step
        color: root.ringColor
    }
    Rectangle {
        x: -4 * root.step
        y: root.offsetY - 4 * root.step
        width: root.width + 8 * root.step
        height: root.height + 8 * root.step
        radius: root.radius + 4 * root.step
        color: root.ringColor
    }
}
