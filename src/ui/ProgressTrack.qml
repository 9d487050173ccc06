import QtQuick
import Quorvel.Ui

// A rounded track with a gradient fill from the leading edge. The fill stops at the track's
// end when `ratio` is past 1 (an overdrawn balance); `ratio` itself stays as given.
Item {
    id: root
    property real ratio: 0
    property color fromColor: "blue"
    property color toColor: "green"
    property color trackColor: Qt.rgba(0.56, 0.56, 0.58, 0.2)
    readonly property real fillWidth: width * Math.max(0, Math.min(1, ratio))

    implicitHeight: 8
    Accessible.role: Accessible.ProgressBar
    Accessible.name: Math.floor(ratio * 100) + "%"

    Rectangle {
        anchors.fill: parent
        radius: 8
        color: root.trackColor
    }
    Rectangle {
        width: root.fillWidth
        height: parent.height
        radius: 8
        visible: width > 0
        gradient: Gradient {
            orientation: Gradient.Horizontal
            GradientStop { position: 0; color: root.fromColor }
            GradientStop { position: 1; color: root.toColor }
        }
    }
}
