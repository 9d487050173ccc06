import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// One assistant feature on the home page: its icon, title and description.
PlainButton {
    id: card

    // { feature, title, description, icon }
    property var feature: ({})
    signal tap()

    padding: 16
    text: feature.title || ""
    Accessible.description: feature.description || ""
    onClicked: card.tap()

    contentItem: RowLayout {
        spacing: 12
        Icon {
            name: card.feature.icon || ""
            size: 28
            color: Theme.blue
            Layout.preferredWidth: 40
            Layout.preferredHeight: 40
        }
        ColumnLayout {
            spacing: 4
            Layout.fillWidth: true
            Label {
                text: card.feature.title || ""
                color: Theme.primaryText
                font.pixelSize: Theme.headlineSize
                font.bold: true
                elide: Text.ElideRight
                Layout.fillWidth: true
            }
            Label {
                text: card.feature.description || ""
                color: Theme.secondaryText
                font.pixelSize: Theme.subheadlineSize
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
        }
        Icon {
            name: "chevron.right"
            color: Theme.secondaryText
        }
    }

    background: GlassMorphicCard {
        opacity: card.pressed ? 0.8 : 1
        Rectangle {
            anchors.fill: parent
            radius: 16
            color: "transparent"
            border.width: card.visualFocus ? 2 : 0
            border.color: Theme.blue
        }
    }
}
