import QtQuick
import Quorvel.Ui
import QtQuick.Templates as T

// The translucent card every page draws its groups on. Set `contentItem`. Built on the
// template, as the style's Control adds only the implicit size below.
T.Control {
    id: card
    property real cornerRadius: 16

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    padding: 16

    background: Item {
        SoftShadow {
            anchors.fill: parent
            radius: card.cornerRadius
            blur: Theme.cardShadowRadius
            offsetY: 4
        }
        // The fill with the frosted tint over it (the stand-in for a platform blur) as one
        // colour: the same picture in one pass instead of two.
        Rectangle {
            anchors.fill: parent
            radius: card.cornerRadius
            color: Theme.cardFill
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
