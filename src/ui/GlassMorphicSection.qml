import QtQuick
import Quorvel.Ui
import QtQuick.Controls
import QtQuick.Layouts

// A titled translucent section: the title in blue above whatever is put in `body`.
Control {
    id: section
    property string title
    default property alias body: bodyColumn.data

    padding: 16

    contentItem: ColumnLayout {
        spacing: 12
        Label {
            text: section.title
            color: Theme.blue
            font.pixelSize: Theme.title2Size
            font.bold: true
            Accessible.role: Accessible.Heading
        }
        ColumnLayout {
            id: bodyColumn
            Layout.fillWidth: true
        }
    }

    background: Item {
        SoftShadow {
            anchors.fill: parent
            radius: 12
            blur: 4
            offsetY: 2
        }
        Rectangle {
            anchors.fill: parent
            radius: 12
            color: Theme.cardBackground
            opacity: 0.8
        }
        VisualEffectView {
            anchors.fill: parent
            radius: 12
            opacity: Theme.sectionBlurOpacity
        }
        Rectangle {
            anchors.fill: parent
            radius: 12
            color: "transparent"
            border.width: 0.5
            border.color: Theme.cardBorder
        }
    }
}
