import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// Page 0's uploaded files of the run.
GlassMorphicCard {
    id: card
    property ConversionPage page

    objectName: "uploadedFiles"
    contentItem: ColumnLayout {
        spacing: 16
        SectionTitle { text: qsTr("Uploaded Files") }
        Repeater {
            model: card.page.uploadedRows
            UploadedRow {
                required property var modelData
                row: modelData
                Layout.fillWidth: true
            }
        }
    }
}
