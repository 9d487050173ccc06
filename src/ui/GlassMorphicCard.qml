import QtQuick
import Quorvel.Ui
import QtQuick.Controls

// The translucent card every page draws its groups on. Set `contentItem`.
Control {
    id: card
    property real cornerRadius: 16

    padding: 16

    background: Item {
        SoftShadow {
            anchors.fill: parent
            radius: card.cornerRadius
            blur: Theme.cardShadowRadius
            offsetY: 4
        }
        Rectangle {
            anchors.fill: parent
            radius: card.cornerRadius
            color: Theme.cardBackground
        }
        VisualEffectView {
            anchors.fill: parent
            radius: card.cornerRadius
            opacity: Theme.cardBlurOpacity
        }
        Rectangle {
            anchors.fill: parent
            radius: card.cornerRadius
            color: "transparent"
            border.width: 0.5
            border.color: Theme.cardBorder
        }
    }
}
