import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// "Thinking": shown after the last message while a reply is pending.
Control {
    id: root

    padding: 12
    Accessible.role: Accessible.StaticText
    Accessible.name: "思考中..."

    contentItem: RowLayout {
        spacing: 12
        Icon {
            name: "bubble.left.fill"
            color: Theme.blue
        }
        Spinner {
            size: 14
            color: Theme.secondaryText
        }
        Label {
            text: "思考中..."
            color: Theme.secondaryText
            font.pixelSize: Theme.captionSize
        }
    }

    background: Item {
        SoftShadow {
            anchors.fill: parent
            radius: 12
            blur: 4
            offsetY: 2
            strength: 0.05
        }
        VisualEffectView {
            anchors.fill: parent
            radius: 12
            opacity: Theme.sectionBlurOpacity
        }
        Rectangle {
            anchors.fill: parent
            radius: 12
            color: Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g,
                           Theme.cardBackground.b, Theme.cardBackground.a * 0.8)
            border.width: 0.5
            border.color: Qt.rgba(1, 1, 1, Theme.isDark ? 0.2 : 0.3)
        }
    }
}
