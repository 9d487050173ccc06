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
    // The selected job and its look, by the list model's role names.
    readonly property var job: viewModel ? viewModel.conversionTasks.roleValues(viewModel.selectedTask) : ({})
    // The actions of the open sheet.
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

            // The sheet's own retry shows over the job's look until the retried job is finished.
            readonly property bool retrying: presenter.retrying
            readonly property bool retryIcon: retrying && sheet.job.statusIconBounces

            TaskPresenter {
                id: presenter
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
                            name: flick.retryIcon ? "arrow.clockwise.circle.fill" : sheet.job.sheetIcon
                            color: LookColors.of(flick.retryIcon ? "orange" : sheet.job.sheetIconColor)
                            size: 22
                            bouncing: sheet.job.statusIconBounces
                        }
                        Label {
                            objectName: "sheetStatusText"
                            text: flick.retrying ? qsTranslate("TaskLook", "Retrying...") : sheet.job.statusText
                            font.pixelSize: Theme.headlineSize
                            font.weight: Font.DemiBold
                            color: LookColors.of(flick.retrying ? "blue" : sheet.job.statusColor)
                            Layout.fillWidth: true
                        }
                        TaskActionButton {
                            visible: sheet.job.canPreview
                            fill: Theme.successFill
                            text: qsTr("Preview")
                            iconName: "eye.fill"
                            help: qsTr("Open the result in the reader")
                            busy: presenter.isDownloading
                            onClicked: presenter.preview()
                        }
                        TaskActionButton {
                            visible: sheet.job.action === "download"
                            text: qsTr("Download")
                            iconName: "arrow.down.circle.fill"
                            help: qsTr("Save the result and show it in its folder")
                            busy: presenter.isDownloading
                            onClicked: presenter.download()
                        }
                        TaskActionButton {
                            visible: sheet.job.action === "retry"
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
                    DetailRow { title: qsTr("File Name"); value: sheet.job.fileName; icon: "doc.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("Pages"); value: sheet.job.pagesText; icon: "doc.on.doc.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("Source Type"); value: sheet.job.sourceFileTyp; icon: "doc.fill"; Layout.fillWidth: true }
                    DetailRow {
                        objectName: "resultTypeRow"
                        visible: sheet.job.showsResult
                        title: qsTr("Result Type")
                        value: sheet.job.resultFileTyp
                        icon: sheet.job.typeIcon
                        Layout.fillWidth: true
                    }
                    DetailRow {
                        objectName: "failReasonRow"
                        visible: sheet.job.shownFailReason !== ""
                        title: qsTr("Why It Failed")
                        value: sheet.job.shownFailReason
                        icon: "exclamationmark.triangle.fill"
                        Layout.fillWidth: true
                    }
                    DetailRow { objectName: "noteRow"; visible: sheet.job.shownNote !== ""; title: qsTr("Note"); value: sheet.job.shownNote; icon: "note.text"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("Created At"); value: sheet.job.createAt; icon: "clock.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("File Path"); value: sheet.job.sourceFilePath; icon: "folder.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("MD5"); value: sheet.job.sourceFileMd5; icon: "doc.text.fill"; Layout.fillWidth: true }
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
