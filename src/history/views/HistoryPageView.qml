import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.History.Views

// Page 1: the search row, the filter chips and the list area with its states; the detail
// sheet of the tapped job. Downloads are shown in the file manager once saved, and a short
// message says where they went.
Item {
    id: root
    objectName: "historyPage"

    property QtObject viewModel
    // Page 1 is the selected tab / the window is shown and not minimised.
    property bool selected: false
    property bool windowShown: false
    readonly property HistoryPage page: page
    readonly property TaskDetailView sheet: sheet
    signal previewRequested(url file)
    signal signInRequested()

    HistoryPage {
        id: page
        viewModel: root.viewModel
        selected: root.selected
        windowShown: root.windowShown
    }
    FileRevealer {
        id: revealer
        objectName: "revealer"
        onFailed: message => savedMessage.show(qsTr("The folder could not be shown: %1").arg(message), "")
    }
    function saved(path) {
        const parts = path.split("/")
        savedMessage.show(qsTr("Saved “%1” in %2").arg(parts[parts.length - 1])
                                                   .arg(parts[parts.length - 2] || "/"), path)
        revealer.reveal(path)
    }

    Shortcut {
        sequences: ["F5", "Ctrl+R"]
        enabled: root.selected
        onActivated: page.refresh()
    }
    Shortcut {
        sequences: [StandardKey.Find]
        enabled: root.selected
        onActivated: search.forceActiveFocus(Qt.ShortcutFocusReason)
    }

    ColumnLayout {
        anchors.fill: parent
        anchors.margins: 32
        anchors.bottomMargin: 0
        spacing: 16

        Rectangle {
            Layout.fillWidth: true
            implicitHeight: 42
            radius: 10
            color: Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g,
                           Theme.cardBackground.b, Theme.cardBackground.a * 0.7)
            border.width: search.activeFocus ? 1.5 : 0.5
            border.color: search.activeFocus ? Theme.blue : Theme.cardBorder
            RowLayout {
                anchors.fill: parent
                anchors.leftMargin: 12
                anchors.rightMargin: 12
                spacing: 8
                Icon {
                    name: "magnifyingglass"
                    size: 18
                    color: Theme.secondaryText
                }
                TextField {
                    id: search
                    objectName: "searchField"
                    placeholderText: qsTr("Search files...")
                    text: root.viewModel ? root.viewModel.searchText : ""
                    onTextEdited: {
                        if (root.viewModel)
                            root.viewModel.searchText = text
                        list.positionViewAtBeginning()
                    }
                    background: null
                    color: Theme.primaryText
                    placeholderTextColor: Theme.secondaryText
                    font.pixelSize: Theme.bodySize
                    selectByMouse: true
                    Layout.fillWidth: true
                    Accessible.name: qsTr("Search files...")
                }
                Spinner {
                    objectName: "refreshIndicator"
                    running: page.refreshing
                    size: 16
                    color: Theme.secondaryText
                    Accessible.name: qsTr("Refreshing")
                }
                PlainButton {
                    objectName: "refreshButton"
                    iconName: "arrow.clockwise"
                    iconColor: Theme.secondaryText
                    help: qsTr("Refresh (F5)")
                    Accessible.name: qsTr("Refresh")
                    enabled: page.listState !== HistoryPage.Loading && !page.refreshing
                    onClicked: page.refresh()
                }
            }
        }

        Flow {
            Layout.fillWidth: true
            spacing: 8
            Repeater {
                model: page.filterTitles
                FilterButton {
                    required property string modelData
                    required property int index
                    title: modelData
                    isSelected: page.selectedFilterIndex === index
                    onClicked: {
                        page.selectFilter(index)
                        list.positionViewAtBeginning()
                    }
                }
            }
        }

        Item {
            Layout.fillWidth: true
            Layout.fillHeight: true

            ColumnLayout {
                objectName: "loadingState"
                anchors.centerIn: parent
                visible: page.listState === HistoryPage.Loading
                spacing: 12
                Spinner {
                    running: parent.visible
                    size: 28
                    color: Theme.secondaryText
                    Layout.alignment: Qt.AlignHCenter
                }
                Label {
                    text: qsTr("Loading history...")
                    color: Theme.secondaryText
                    font.pixelSize: Theme.bodySize
                    Layout.alignment: Qt.AlignHCenter
                }
            }

            ColumnLayout {
                objectName: "failedState"
                anchors.centerIn: parent
                width: Math.min(parent.width - 32, 460)
                visible: page.listState === HistoryPage.Failed
                spacing: 14
                Icon {
                    name: "exclamationmark.triangle.fill"
                    size: 44
                    color: Theme.orange
                    Layout.alignment: Qt.AlignHCenter
                }
                Label {
                    text: qsTr("The history could not be loaded")
                    font.pixelSize: Theme.headlineSize
                    font.bold: true
                    color: Theme.primaryText
                    Layout.alignment: Qt.AlignHCenter
                }
                Label {
                    objectName: "failureText"
                    text: page.failureText
                    wrapMode: Text.Wrap
                    horizontalAlignment: Text.AlignHCenter
                    color: Theme.secondaryText
                    font.pixelSize: Theme.subheadlineSize
                    Layout.fillWidth: true
                }
                RowLayout {
                    spacing: 12
                    Layout.alignment: Qt.AlignHCenter
                    ProminentButton {
                        text: qsTr("Try again")
                        onClicked: page.retryFetch()
                    }
                    PlainButton {
                        objectName: "signInAgainButton"
                        visible: page.signInNeeded
                        text: qsTr("Sign in again")
                        onClicked: root.signInRequested()
                    }
                }
            }

            ColumnLayout {
                objectName: "emptyState"
                anchors.centerIn: parent
                visible: page.listState === HistoryPage.Empty
                spacing: 12
                Icon {
                    name: "doc.text.magnifyingglass"
                    size: 48
                    color: Theme.secondaryText
                    Layout.alignment: Qt.AlignHCenter
                }
                Label {
                    objectName: "emptyText"
                    text: page.emptyText
                    font.pixelSize: Theme.headlineSize
                    font.weight: Font.DemiBold
                    color: Theme.secondaryText
                    Layout.alignment: Qt.AlignHCenter
                }
            }

            ListView {
                id: list
                objectName: "taskList"
                // The cards keep 8 px for their hover glow on each side, so the list reaches
                // 8 px past the column: the cards line up with the search row and chips.
                anchors.fill: parent
                anchors.leftMargin: -8
                anchors.rightMargin: -8
                visible: page.listState === HistoryPage.List
                model: root.viewModel ? root.viewModel.filteredTasks : null
                spacing: 12
                clip: true
                topMargin: 4
                bottomMargin: 24
                boundsBehavior: Flickable.StopAtBounds
                ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }
                delegate: TaskCard {
                    width: ListView.view.width - 16
                    x: 8
                    viewModel: root.viewModel
                    onDownloaded: path => root.saved(path)
                }
            }
        }
    }

    TaskDetailView {
        id: sheet
        viewModel: root.viewModel
        onDownloaded: path => root.saved(path)
        onPreviewRequested: file => root.previewRequested(file)
    }

    // Where a download went, with "Show in folder"; a failed reveal says so here too.
    Rectangle {
        id: savedMessage
        objectName: "savedMessage"
        property string text
        property string path
        function show(message, file) {
            text = message
            path = file
            visible = true
        }
        visible: false
        anchors.horizontalCenter: parent.horizontalCenter
        anchors.bottom: parent.bottom
        anchors.bottomMargin: 20
        width: Math.min(parent.width - 64, messageRow.implicitWidth + 32)
        height: messageRow.implicitHeight + 20
        radius: 10
        color: Theme.cardBackground
        border.width: 0.5
        border.color: Theme.cardBorder
        Accessible.role: Accessible.AlertMessage
        Accessible.name: text
        SoftShadow { anchors.fill: parent; radius: parent.radius; z: -1 }
        RowLayout {
            id: messageRow
            anchors.fill: parent
            anchors.leftMargin: 16
            anchors.rightMargin: 8
            spacing: 8
            Label {
                objectName: "savedMessageText"
                text: savedMessage.text
                color: Theme.primaryText
                font.pixelSize: Theme.subheadlineSize
                elide: Text.ElideMiddle
                Layout.fillWidth: true
                Layout.maximumWidth: implicitWidth
            }
            PlainButton {
                objectName: "showInFolderButton"
                visible: savedMessage.path !== ""
                text: qsTr("Show in folder")
                iconName: "folder.fill"
                onClicked: revealer.reveal(savedMessage.path)
            }
            PlainButton {
                iconName: "xmark"
                iconColor: Theme.secondaryText
                help: qsTr("Close")
                onClicked: savedMessage.visible = false
            }
        }
    }
}
