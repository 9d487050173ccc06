import QtQuick
import QtQuick.Templates as T
import Quorvel.Ui
import QtQuick.Layouts

// A group of operations on one card; pressing a row reports its operation name.
GlassMorphicCard {
    id: card
    property string title
    // [{ operationName, icon }]
    property var tools: []
    signal select(string operationName)

    contentItem: ColumnLayout {
        spacing: 16
        T.Label {
            text: card.title
            color: Theme.blue
            font.pixelSize: Theme.title3Size
            font.bold: true
            Accessible.role: Accessible.Heading
            Layout.fillWidth: true
        }
        Repeater {
            model: card.tools
            PlainButton {
                required property var modelData
                text: qsTr(modelData.operationName)
                iconName: modelData.icon
                iconSize: Theme.title3Size
                color: Theme.primaryText
                iconColor: Theme.blue
                fontWeight: Font.Medium
                topPadding: 10
                bottomPadding: 10
                leftPadding: 12
                rightPadding: 12
                Layout.fillWidth: true
                onClicked: card.select(modelData.operationName)
                background: Rectangle {
                    radius: 12
                    color: Theme.cardBackground
                    opacity: parent.pressed ? 1 : parent.hovered ? 0.8 : 0.5
                    border.width: parent.visualFocus ? 2 : 0
                    border.color: Theme.blue
                }
            }
        }
        // Cards of a grid row share one height; their rows stay at the top.
        Item { Layout.fillHeight: true }
    }
}
