import QtQuick
import Quorvel.Ui
import QtQuick.Controls
import QtQuick.Layouts

// A titled translucent section: the title in blue above whatever is put in `body`.
Control {
    id: section
    property Theme theme
    property string title
    default property alias body: bodyColumn.data

    padding: 16

    contentItem: ColumnLayout {
        spacing: 12
        Label {
            text: section.title
            color: section.theme ? section.theme.blue : "blue"
            font.pixelSize: section.theme ? section.theme.title2Size : 21
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
            color: section.theme ? section.theme.cardBackground : "transparent"
            opacity: 0.8
        }
        VisualEffectView {
            anchors.fill: parent
            theme: section.theme
            radius: 12
            opacity: section.theme ? section.theme.sectionBlurOpacity : 0.3
        }
        Rectangle {
            anchors.fill: parent
            radius: 12
            color: "transparent"
            border.width: 0.5
            border.color: section.theme ? section.theme.cardBorder : "transparent"
        }
    }
}
