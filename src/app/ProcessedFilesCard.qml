import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// Page 0's processed files of the run: download, then preview, show in folder and share.
GlassMorphicCard {
    id: card
    property ConversionPage page
    signal preview(url file)
    signal showInFolder(url file)
    signal share(url file, Item button)

    objectName: "processedFiles"
    contentItem: ColumnLayout {
        spacing: 16
        SectionTitle { text: qsTr("Processed Files") }
        Repeater {
            model: card.page.processedRows
            ColumnLayout {
                id: processedRow
                required property var modelData
                required property int index
                spacing: 4
                Layout.fillWidth: true
                FileRow {
                    name: processedRow.modelData.name
                    framed: true
                    Layout.fillWidth: true
                    PlainButton {
                        objectName: "downloadProcessed"
                        visible: !processedRow.modelData.downloaded
                        enabled: !processedRow.modelData.downloading
                        iconName: "arrow.down.circle.fill"
                        text: processedRow.modelData.downloading ? qsTr("Downloading...")
                                                                 : qsTr("Download")
                        help: qsTr("Save the result in your download folder")
                        Accessible.name: qsTr("Download %1").arg(processedRow.modelData.name)
                        onClicked: card.page.downloadProcessed(processedRow.index)
                    }
                    PlainButton {
                        objectName: "previewProcessed"
                        visible: processedRow.modelData.downloaded
                        iconName: "eye.fill"
                        help: processedRow.modelData.isPdf ? qsTr("Preview PDF") : qsTr("Open")
                        Accessible.name: qsTr("Preview %1").arg(processedRow.modelData.name)
                        onClicked: card.preview(processedRow.modelData.url)
                    }
                    PlainButton {
                        objectName: "showProcessedInFolder"
                        visible: processedRow.modelData.downloaded
                        iconName: "folder.fill"
                        help: qsTr("Show in folder")
                        Accessible.name: qsTr("Show %1 in folder").arg(processedRow.modelData.name)
                        onClicked: card.showInFolder(processedRow.modelData.url)
                    }
                    PlainButton {
                        id: shareButton
                        visible: processedRow.modelData.downloaded
                        iconName: "square.and.arrow.up.fill"
                        help: qsTr("Share file")
                        Accessible.name: qsTr("Share %1").arg(processedRow.modelData.name)
                        onClicked: card.share(processedRow.modelData.url, shareButton)
                    }
                }
                Label {
                    objectName: "processedError"
                    visible: text !== ""
                    text: processedRow.modelData.error
                    color: Theme.red
                    font.pixelSize: Theme.subheadlineSize
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
            }
        }
    }
}
