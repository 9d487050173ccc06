import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// Under the selected files: the upload's progress while it runs, and the upload button.
ColumnLayout {
    id: block
    property ConversionPage page

    spacing: 8

    Label {
        visible: block.page.isProcessing
        text: qsTr("Uploading...")
        color: Theme.secondaryText
        font.pixelSize: Theme.subheadlineSize
    }
    ProgressTrack {
        objectName: "uploadProgress"
        visible: block.page.isProcessing
        // Takes the focus when an upload starts, so a screen reader follows the progress.
        Accessible.focusable: true
        ratio: block.page.progress
        fromColor: Theme.blue
        toColor: Theme.green
        Layout.fillWidth: true
    }
    Label {
        objectName: "uploadPercent"
        visible: block.page.isProcessing
        text: block.page.progressText
        color: Theme.secondaryText
        font.pixelSize: Theme.captionSize
    }
    ProminentButton {
        objectName: "uploadButton"
        text: qsTr("Upload Files")
        busy: block.page.isProcessing
        busyText: qsTr("Uploading...")
        fontSize: Theme.headlineSize
        implicitHeight: 50
        Layout.fillWidth: true
        onClicked: block.page.upload()
    }
}
