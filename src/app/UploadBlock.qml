import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// Under the selected files: the upload's progress while it runs, and the upload button.
ColumnLayout {
    id: block
    property Theme theme
    property ConversionPage page

    spacing: 8

    Label {
        visible: block.page.isProcessing
        text: qsTr("Uploading...")
        color: block.theme.secondaryText
        font.pixelSize: block.theme.subheadlineSize
    }
    ProgressTrack {
        objectName: "uploadProgress"
        visible: block.page.isProcessing
        ratio: block.page.progress
        fromColor: block.theme.blue
        toColor: block.theme.green
        Layout.fillWidth: true
    }
    Label {
        objectName: "uploadPercent"
        visible: block.page.isProcessing
        text: block.page.progressText
        color: block.theme.secondaryText
        font.pixelSize: block.theme.captionSize
    }
    ProminentButton {
        objectName: "uploadButton"
        theme: block.theme
        text: qsTr("Upload Files")
        busy: block.page.isProcessing
        busyText: qsTr("Uploading...")
        fontSize: block.theme.headlineSize
        implicitHeight: 50
        Layout.fillWidth: true
        onClicked: block.page.upload()
    }
}
