import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// Page 0's selected files, each with its preview and remove buttons, and the upload block.
GlassMorphicCard {
    id: card
    property ConversionPage page
    signal preview(url file)

    objectName: "selectedFiles"
    contentItem: ColumnLayout {
        spacing: 16
        SectionTitle { text: qsTr("Selected Files") }
        Repeater {
            model: card.page.selectedRows
            FileRow {
                required property var modelData
                required property int index
                name: modelData.name
                Layout.fillWidth: true
                PlainButton {
                    objectName: "previewSelected"
                    iconName: "eye.fill"
                    help: qsTr("Preview PDF")
                    Accessible.name: qsTr("Preview %1").arg(modelData.name)
                    onClicked: card.preview(modelData.url)
                }
                PlainButton {
                    iconName: "xmark.circle.fill"
                    iconColor: Theme.red
                    help: qsTr("Remove file")
                    Accessible.name: qsTr("Remove %1").arg(modelData.name)
                    onClicked: card.page.removeSelectedFile(index)
                }
            }
        }
        UploadBlock {
            page: card.page
            Layout.fillWidth: true
        }
    }
}
