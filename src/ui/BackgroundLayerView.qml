import QtQuick
import Quorvel.Ui

// The page background: the theme's window fill with a faint blue diagonal gradient over it.
// Over the window's own opaque base (`overWindowBase`) the layers are drawn as one opaque
// gradient: the same picture, and nothing beneath it left to draw.
Item {
    id: root
    property bool overWindowBase: false

    clip: true
    Rectangle {
        visible: !root.overWindowBase
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
            GradientStop {
                position: 0
                color: root.overWindowBase ? Theme.pageStart : Theme.gradientStart
            }
            GradientStop {
                position: 1
                color: root.overWindowBase ? Theme.pageEnd : Theme.gradientEnd
            }
        }
    }
}
