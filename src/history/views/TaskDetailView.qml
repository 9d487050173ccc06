pragma ComponentBehavior: Bound
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
    // The actions of the open sheet.
    readonly property TaskPresenter presenter: content.current ? content.current.presenter : null
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

    // The one row of the selected job, made anew at each opening.
    contentItem: Item {
        id: content
        property Item current: null
        implicitHeight: current ? current.implicitHeight : 0
        Repeater {
            model: sheet.visible && sheet.viewModel ? sheet.viewModel.selectedTaskModel : null
            delegate: flickable
        }
    }

    Component {
        id: flickable
        Flickable {
            id: flick
            required property var task
            required property string fileName
            required property string sourceFileTyp
            required property string resultFileTyp
            required property string createAt
            required property string sourceFilePath
            required property string sourceFileMd5
            required property string statusText
            required property int statusTone
            required property string sheetIcon
            required property int sheetIconTone
            required property bool statusIconBounces
            required property string typeIcon
            required property string pagesText
            required property string action
            required property bool showsResult
            required property bool canPreview
            required property string shownFailReason
            required property string shownNote
            property alias presenter: presenter

            width: content.width
            height: content.height
            implicitHeight: column.implicitHeight
            contentHeight: column.implicitHeight
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            Accessible.role: Accessible.Dialog
            Accessible.name: qsTr("Task Details")
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
            Component.onCompleted: content.current = flick
            Component.onDestruction: if (content.current === flick) content.current = null

            // The sheet's own retry shows over the job's look until the retried job is finished.
            readonly property bool retrying: presenter.retrying
            readonly property bool retryIcon: retrying && statusIconBounces

            TaskPresenter {
                id: presenter
                task: flick.task
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
                            name: flick.retryIcon ? "arrow.clockwise.circle.fill" : flick.sheetIcon
                            color: LookColors.of(flick.retryIcon ? TaskTone.Retry : flick.sheetIconTone)
                            size: 22
                            bouncing: flick.statusIconBounces
                        }
                        Label {
                            objectName: "sheetStatusText"
                            text: flick.retrying ? qsTranslate("TaskLook", "Retrying...") : flick.statusText
                            font.pixelSize: Theme.headlineSize
                            font.weight: Font.DemiBold
                            color: LookColors.of(flick.retrying ? TaskTone.Progress : flick.statusTone)
                            Layout.fillWidth: true
                        }
                        TaskActionButton {
                            visible: flick.canPreview
                            fill: Theme.successFill
                            text: qsTr("Preview")
                            iconName: "eye.fill"
                            help: qsTr("Open the result in the reader")
                            busy: presenter.isDownloading
                            onClicked: presenter.preview()
                        }
                        TaskActionButton {
                            visible: flick.action === "download"
                            text: qsTr("Download")
                            iconName: "arrow.down.circle.fill"
                            help: qsTr("Save the result and show it in its folder")
                            busy: presenter.isDownloading
                            onClicked: presenter.download()
                        }
                        TaskActionButton {
                            visible: flick.action === "retry"
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
                    DetailRow { title: qsTr("File Name"); value: flick.fileName; icon: "doc.fill"; Layout.fillWidth: true }
                    DetailRow { objectName: "pagesRow"; title: qsTr("Pages"); value: flick.pagesText; icon: "doc.on.doc.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("Source Type"); value: flick.sourceFileTyp; icon: "doc.fill"; Layout.fillWidth: true }
                    DetailRow {
                        objectName: "resultTypeRow"
                        visible: flick.showsResult
                        title: qsTr("Result Type")
                        value: flick.resultFileTyp
                        icon: flick.typeIcon
                        Layout.fillWidth: true
                    }
                    DetailRow {
                        objectName: "failReasonRow"
                        visible: flick.shownFailReason !== ""
                        title: qsTr("Why It Failed")
                        value: flick.shownFailReason
                        icon: "exclamationmark.triangle.fill"
                        Layout.fillWidth: true
                    }
                    DetailRow { objectName: "noteRow"; visible: flick.shownNote !== ""; title: qsTr("Note"); value: flick.shownNote; icon: "note.text"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("Created At"); value: flick.createAt; icon: "clock.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("File Path"); value: flick.sourceFilePath; icon: "folder.fill"; Layout.fillWidth: true }
                    DetailRow { title: qsTr("MD5"); value: flick.sourceFileMd5; icon: "doc.text.fill"; Layout.fillWidth: true }
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
