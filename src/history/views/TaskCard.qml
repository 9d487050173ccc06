import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.History.Views

// One job of the history list. Tapping it opens the detail sheet; its action button
// downloads a completed job's result or retries a failed job.
Item {
    id: card

    // The row of the list: its `task` follows the row when the job changes in place.
    required property var model
    readonly property var task: model.task
    property QtObject viewModel
    readonly property TaskPresenter presenter: presenter
    signal downloaded(string path)

    implicitHeight: row.implicitHeight + 28
    Accessible.role: Accessible.Button
    Accessible.name: presenter.fileName + ", " + presenter.statusText
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
            property real spread: hover.hovered && presenter.showsResult ? 8 : 0
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
                name: presenter.statusIcon
                color: LookColors.of(presenter.statusIconColor)
                size: Theme.title3Size + 6
                bouncing: presenter.statusIconBounces
                Layout.alignment: Qt.AlignTop
                Layout.preferredWidth: size + 4
            }

            ColumnLayout {
                spacing: 4
                Layout.fillWidth: true
                Layout.minimumWidth: 0
                Label {
                    text: presenter.fileName
                    font.pixelSize: Theme.headlineSize
                    font.weight: Font.DemiBold
                    color: Theme.primaryText
                    elide: Text.ElideMiddle
                    Layout.fillWidth: true
                }
                Label {
                    objectName: "subtitle"
                    text: presenter.subtitle
                    font.pixelSize: Theme.captionSize
                    color: LookColors.of(presenter.subtitleColor)
                    elide: Text.ElideRight
                    Layout.fillWidth: true
                }
                Flow {
                    spacing: 6
                    Layout.fillWidth: true
                    Layout.topMargin: 2
                    DetailItem {
                        icon: presenter.typeIcon
                        title: qsTr("Type")
                        value: presenter.typ
                        color: Theme.blue
                    }
                    Label { text: "•"; color: Theme.secondaryText }
                    DetailItem {
                        objectName: "pagesItem"
                        icon: "doc.on.doc.fill"
                        title: qsTr("Pages")
                        value: presenter.pagesText
                        color: Theme.orange
                    }
                    Label {
                        visible: presenter.showsResult
                        text: "•"
                        color: Theme.secondaryText
                    }
                    DetailItem {
                        objectName: "resultItem"
                        visible: presenter.showsResult
                        icon: "arrow.right.circle.fill"
                        title: qsTr("Result")
                        value: presenter.resultFileTyp
                        color: Theme.green
                    }
                }
            }

            StatusBadge {
                objectName: "statusBadge"
                status: presenter.statusText
                isCompleted: presenter.badgeCompleted
            }

            TaskActionButton {
                objectName: "downloadButton"
                visible: presenter.action === "download"
                text: qsTr("Download")
                iconName: "arrow.down.circle.fill"
                help: qsTr("Save the result and show it in its folder")
                busy: presenter.isDownloading
                onClicked: presenter.download()
            }
            TaskActionButton {
                objectName: "retryButton"
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

    ErrorAlert {
        message: presenter.errorMessage
        visible: presenter.showError
        onClosed: presenter.showError = false
    }
}
