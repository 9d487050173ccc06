import QtQuick
import Quorvel.Ui
import QtQuick.Controls

// The translucent card every page draws its groups on. Set `contentItem`.
Control {
    id: card
    property Theme theme
    property real cornerRadius: 16

    padding: 16

    background: Item {
        SoftShadow {
            anchors.fill: parent
            radius: card.cornerRadius
            blur: card.theme ? card.theme.cardShadowRadius : 10
            offsetY: 4
        }
        Rectangle {
            anchors.fill: parent
            radius: card.cornerRadius
            color: card.theme ? card.theme.cardBackground : "transparent"
        }
        VisualEffectView {
            anchors.fill: parent
            theme: card.theme
            radius: card.cornerRadius
            opacity: card.theme ? card.theme.cardBlurOpacity : 0.5
        }
        Rectangle {
            anchors.fill: parent
            radius: card.cornerRadius
            color: "transparent"
            border.width: 0.5
            border.color: card.theme ? card.theme.cardBorder : "transparent"
        }
    }
}
