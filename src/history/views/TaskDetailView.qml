import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.History.Views

// The detail sheet of the selected job: status with its action, then the file's facts.
// Open while the view model's `showTaskDetail` is set; each opening starts fresh.
Popup {
    id: sheet

    property QtObject viewModel
    // The presenter of the open sheet.
    readonly property TaskPresenter presenter: content.item ? content.item.presenter : null
    signal downloaded(string path)
    signal previewRequested(url file)

    modal: true
    focus: true
    anchors.centerIn: Overlay.overlay
    width: Math.min(560, (Overlay.overlay ? Overlay.overlay.width : 600) - 48)
    height: Math.min(content.implicitHeight + topPadding + bottomPadding,
                     (Overlay.overlay ? Overlay.overlay.height : 600) - 48)
    padding: 24
    closePolicy: Popup.CloseOnEscape | Popup.CloseOnPressOutside

    Connections {
        target: sheet.viewModel
        function onShowTaskDetailChanged() {
            if (sheet.viewModel.showTaskDetail)
                sheet.open()
            else
                sheet.close()
        }
    }
    onClosed: if (viewModel && viewModel.showTaskDetail) viewModel.showTaskDetail = false

    background: Rectangle {
        radius: 14
        color: Theme.windowBase
        border.width: 0.5
        border.color: Qt.rgba(0, 0, 0, 0.15)
    }

    contentItem: Loader {
        id: content
        active: sheet.visible
        sourceComponent: Flickable {
            id: flick
            property alias presenter: presenter
            implicitHeight: column.implicitHeight
            contentHeight: column.implicitHeight
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            Accessible.role: Accessible.Dialog
            Accessible.name: qsTr("Task Details")
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

            TaskPresenter {
                id: presenter
                inSheet: true
                task: sheet.viewModel ? sheet.viewModel.selectedTask : undefined
                viewModel: sheet.viewModel
                onDownloaded: path => sheet.downloaded(path)
                onPreviewReady: file => sheet.previewRequested(file)
            }

            ColumnLayout {
                id: column
                width: flick.width
                spacing: 20

                RowLayout {
                    Layout.fillWidth: true
                    Label {
                        text: qsTr("Task Details")
                        font.pixelSize: Theme.title2Size
                        font.bold: true
                        color: Theme.primaryText
                        Layout.fillWidth: true
                        Accessible.role: Accessible.Heading
                    }
                    PlainButton {
                        text: qsTr("Close")
                        onClicked: sheet.close()
                    }
                }

                Rectangle {
                    Layout.fillWidth: true
                    implicitHeight: statusRow.implicitHeight + 28
                    radius: 12
                    color: Theme.cardBackground
                    border.width: 0.5
                    border.color: Theme.cardBorder
                    RowLayout {
                        id: statusRow
                        anchors.fill: parent
                        anchors.margins: 14
                        spacing: 10
                        BouncingIcon {
                            objectName: "sheetStatusIcon"
                            name: presenter.statusIcon
                            color: LookColors.of(presenter.statusIconColor)
                            size: 22
                            bouncing: presenter.statusIconBounces
                        }
                        Label {
                            objectName: "sheetStatusText"
                            text: presenter.statusText
                            font.pixelSize: Theme.headlineSize
                            font.weight: Font.DemiBold
                            color: LookColors.of(presenter.statusColor)
                            Layout.fillWidth: true
                        }
                        TaskActionButton {
                            visible: presenter.canPreview
                            fill: Theme.successFill
                            text: qsTr("Preview")
                            iconName: "eye.fill"
                            help: qsTr("Open the result in the reader")
                            busy: presenter.isDownloading
                            onClicked: presenter.preview()
                        }
                        TaskActionButton {
                            visible: presenter.action === "download"
                            text: qsTr("Download")
                            iconName: "arrow.down.circle.fill"
                            help: qsTr("Save the result and show it in its folder")
                            busy: presenter.isDownloading
                            onClicked: presenter.download()
                        }
                        TaskActionButton {
                            visible: presenter.action === "retry"
                            fill: Theme.warningFill
                            text: qsTr("Retry")
                            iconName: "arrow.clockwise.circle.fill"
                            help: qsTr("Submit the job again")
                            busy: presenter.isRetrying
                            onClicked: presenter.retry()
                        }
                    }
                }

                Label {
                    text: qsTr("File Information")
                    font.pixelSize: Theme.headlineSize
                    font.bold: true
                    color: Theme.primaryText
                    Accessible.role: Accessible.Heading
                }
                ColumnLayout {
                    spacing: 14
                    Layout.fillWidth: true
                    DetailRow { title: qsTr("File Name"); value: presenter.fileName; icon: "doc.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("Pages"); value: presenter.pagesText; icon: "doc.on.doc.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("Source Type"); value: presenter.sourceFileTyp; icon: "doc.fill"; Layout.fillWidth: true }
                    DetailRow {
                        objectName: "resultTypeRow"
                        visible: presenter.showsResult
                        title: qsTr("Result Type")
                        value: presenter.resultFileTyp
                        icon: presenter.typeIcon
                        Layout.fillWidth: true
                    }
                    DetailRow {
                        objectName: "failReasonRow"
                        visible: presenter.failReason !== ""
                        title: qsTr("Why It Failed")
                        value: presenter.failReason
                        icon: "exclamationmark.triangle.fill"
                        Layout.fillWidth: true
                    }
                    DetailRow { objectName: "noteRow"; visible: presenter.note !== ""; title: qsTr("Note"); value: presenter.note; icon: "note.text"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("Created At"); value: presenter.createAt; icon: "clock.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("File Path"); value: presenter.sourceFilePath; icon: "folder.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("MD5"); value: presenter.sourceFileMd5; icon: "doc.text.fill"; Layout.fillWidth: true }
                }
            }

            ErrorAlert {
                message: presenter.errorMessage
                visible: presenter.showError
                onClosed: presenter.showError = false
            }
        }
    }
}
