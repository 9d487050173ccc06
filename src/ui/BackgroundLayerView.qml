import QtQuick
import Quorvel.Ui

// The page background: the theme's window fill with a faint blue diagonal gradient over it.
Item {
    id: root

    clip: true
    Rectangle {
        anchors.fill: parent
        color: Theme.windowBackground
    }
    // Top-leading to bottom-trailing: a vertical gradient turned by 45 degrees and made
    // large enough to cover the corners.
    Rectangle {
        readonly property real side: Math.sqrt(root.width * root.width + root.height * root.height)
        width: side
        height: side
        anchors.centerIn: parent
        rotation: -45
        gradient: Gradient {
            GradientStop { position: 0; color: Theme.gradientStart }
            GradientStop { position: 1; color: Theme.gradientEnd }
        }
    }
}
