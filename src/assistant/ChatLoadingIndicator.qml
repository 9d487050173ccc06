import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// "Thinking": shown after the last message while a reply is pending.
Control {
    id: root
    property Theme theme

    padding: 12
    Accessible.role: Accessible.StaticText
    Accessible.name: "思考中..."

    contentItem: RowLayout {
        spacing: 12
        Icon {
            name: "bubble.left.fill"
            color: root.theme ? root.theme.blue : "blue"
        }
        Spinner {
            size: 14
            color: root.theme ? root.theme.secondaryText : "gray"
        }
        Label {
            text: "思考中..."
            color: root.theme ? root.theme.secondaryText : "gray"
            font.pixelSize: root.theme ? root.theme.captionSize : 11
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
            theme: root.theme
            radius: 12
            opacity: root.theme ? root.theme.sectionBlurOpacity : 0.3
        }
        Rectangle {
            anchors.fill: parent
            radius: 12
            color: root.theme ? Qt.rgba(root.theme.cardBackground.r, root.theme.cardBackground.g,
                                        root.theme.cardBackground.b, root.theme.cardBackground.a * 0.8)
                              : "white"
            border.width: 0.5
            border.color: Qt.rgba(1, 1, 1, root.theme && root.theme.isDark ? 0.2 : 0.3)
        }
    }
}
