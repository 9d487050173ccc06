pragma ComponentBehavior: Bound
import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.History.Views

// One job of the history list. Tapping it opens the detail sheet; its action button
// downloads a completed job's result or retries a failed job.
Item {
    id: card

    // The row of the list, its job and how it looks, all following the row when the job
    // changes in place.
    required property var task
    required property string fileName
    required property string typ
    required property string createAt
    required property string resultFileTyp
    required property string statusText
    required property bool badgeCompleted
    required property string cardIcon
    required property int cardIconTone
    required property bool statusIconBounces
    required property string typeIcon
    required property string pagesText
    required property string action
    required property bool showsResult
    property QtObject viewModel
    readonly property TaskPresenter presenter: presenter
    signal downloaded(string path)

    // The card's own retry shows over the job's look until the retried job is finished;
    // a completed or failed job keeps its icon meanwhile.
    readonly property bool retrying: presenter.retrying
    readonly property string shownStatus: retrying ? qsTranslate("TaskLook", "Retrying") : statusText
    readonly property bool retryIcon: retrying && statusIconBounces

    implicitHeight: row.implicitHeight + 28
    Accessible.role: Accessible.Button
    Accessible.name: card.fileName + ", " + card.shownStatus
    Accessible.onPressAction: card.open()

    function open() {
        if (card.viewModel)
            card.viewModel.selectTask(card.task)
    }

    TaskPresenter {
        id: presenter
        task: card.task
        viewModel: card.viewModel
        onDownloaded: path => card.downloaded(path)
    }

    HoverHandler { id: hover }

    Item {
        id: body
        anchors.fill: parent
        scale: hover.hovered ? 1.01 : 1
        Behavior on scale { SpringAnimation { spring: 6; damping: 0.6; epsilon: 0.001 } }

        // The glow of a completed job under the pointer.
        Rectangle {
            property real spread: hover.hovered && card.showsResult ? 8 : 0
            anchors.fill: parent
            anchors.margins: -spread
            radius: 14 + spread
            color: Qt.rgba(Theme.green.r, Theme.green.g, Theme.green.b, 0.1)
            visible: spread > 0
            Behavior on spread { SpringAnimation { spring: 6; damping: 0.6 } }
        }
        Rectangle {
            anchors.fill: parent
            radius: 14
            color: Theme.cardBackground
            border.width: 0.5
            border.color: Theme.cardBorder
        }
        MouseArea {
            anchors.fill: parent
            cursorShape: Qt.PointingHandCursor
            onClicked: card.open()
        }

        RowLayout {
            id: row
            anchors.fill: parent
            anchors.margins: 14
            anchors.leftMargin: 16
            anchors.rightMargin: 16
            spacing: 14

            BouncingIcon {
                objectName: "statusIcon"
                name: card.retryIcon ? "arrow.clockwise.circle" : card.cardIcon
                color: LookColors.of(card.retryIcon ? TaskTone.Retry : card.cardIconTone)
                size: Theme.title3Size + 6
                bouncing: card.statusIconBounces
                Layout.alignment: Qt.AlignTop
                Layout.preferredWidth: size + 4
            }

            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true
                Layout.minimumWidth: 0
                Label {
                    text: card.fileName
                    font.pixelSize: Theme.headlineSize
                    font.weight: Font.DemiBold
                    color: Theme.primaryText
                    elide: Text.ElideMiddle
                    Layout.fillWidth: true
                }
                Label {
                    objectName: "subtitle"
                    text: card.retrying ? qsTr("Processing retry...") : card.createAt
                    font.pixelSize: Theme.captionSize
                    color: card.retrying ? Theme.orange : Theme.secondaryText
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
                Flow {
                    spacing: 6
                    Layout.fillWidth: true
                    Layout.topMargin: 2
                    DetailItem {
                        icon: card.typeIcon
                        title: qsTr("Type")
                        value: card.typ
                        color: Theme.blue
                    }
                    Label { text: "•"; color: Theme.secondaryText }
                    DetailItem {
                        objectName: "pagesItem"
                        icon: "doc.on.doc.fill"
                        title: qsTr("Pages")
                        value: card.pagesText
                        color: Theme.orange
                    }
                    Label {
                        visible: card.showsResult
                        text: "•"
                        color: Theme.secondaryText
                    }
                    DetailItem {
                        objectName: "resultItem"
                        visible: card.showsResult
                        icon: "arrow.right.circle.fill"
                        title: qsTr("Result")
                        value: card.resultFileTyp
                        color: Theme.green
                    }
                }
            }

            StatusBadge {
                objectName: "statusBadge"
                status: card.shownStatus
                isCompleted: card.badgeCompleted && !card.retrying
            }

            TaskActionButton {
                objectName: "downloadButton"
                visible: card.action === "download"
                text: qsTr("Download")
                iconName: "arrow.down.circle.fill"
                help: qsTr("Save the result and show it in its folder")
                busy: presenter.isDownloading
                onClicked: presenter.download()
            }
            TaskActionButton {
                objectName: "retryButton"
                visible: card.action === "retry"
                fill: Theme.warningFill
                text: qsTr("Retry")
                iconName: "arrow.clockwise.circle.fill"
                help: qsTr("Submit the job again")
                busy: presenter.isRetrying
                onClicked: presenter.retry()
            }
        }
    }

    ErrorAlert {
        message: presenter.errorMessage
        visible: presenter.showError
        onClosed: presenter.showError = false
    }
}
