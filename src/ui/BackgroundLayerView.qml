import QtQuick
import Quorvel.Ui

// The page background: the theme's window fill with a faint blue diagonal gradient over it.
Item {
    id: root
    property Theme theme

    clip: true
    Rectangle {
        anchors.fill: parent
        color: root.theme ? root.theme.windowBackground : "transparent"
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
            GradientStop { position: 0; color: root.theme ? root.theme.gradientStart : "transparent" }
            GradientStop { position: 1; color: root.theme ? root.theme.gradientEnd : "transparent" }
        }
    }
}
