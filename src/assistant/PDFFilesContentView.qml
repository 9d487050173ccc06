import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.Assistant

// "My PDF files": search row, summary row, the current page's cards (or the loading, empty
// or no-match state) and the paging row.
ColumnLayout {
    id: root

    property AssistantPage page
    readonly property PDFFileList files: page ? page.files : null
    readonly property bool isSearching: files && files.searchText !== ""
    readonly property bool isSignedIn: page && page.authManager ? page.authManager.isLoggedIn : false

    // How many rows of cards a page shows; the page sets it from its height.
    property int rows: 1

    spacing: 0

    // A page of the list is what the grid shows: its columns times the rows.
    Binding {
        target: root.files
        property: "pageColumns"
        value: grid.columns
        when: root.files !== null && grid.width > 0
    }
    Binding {
        target: root.files
        property: "pageRows"
        value: root.rows
        when: root.files !== null
    }

    // Search row.
    Rectangle {
        Layout.fillWidth: true
        Layout.bottomMargin: 12
        implicitHeight: searchRow.implicitHeight + 16
        radius: 8
        color: Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g,
                       Theme.cardBackground.b, Theme.cardBackground.a * 0.3)
        RowLayout {
            id: searchRow
            anchors.fill: parent
            anchors.margins: 8
            spacing: 8
            Icon {
                name: "magnifyingglass"
                color: Theme.secondaryText
            }
            TextField {
                id: searchField
                placeholderText: "搜索文件名..."
                text: root.files ? root.files.searchText : ""
                onTextEdited: root.files.searchText = text
                color: Theme.primaryText
                placeholderTextColor: Theme.secondaryText
                font.pixelSize: Theme.bodySize
                background: null
                padding: 0
                Accessible.name: "搜索文件名..."
                Layout.fillWidth: true
            }
            PlainButton {
                visible: root.isSearching
                iconName: "xmark.circle.fill"
                iconColor: Theme.secondaryText
                padding: 0
                help: "清除搜索"
                onClicked: root.files.searchText = ""
            }
        }
    }

    // Summary row.
    RowLayout {
        spacing: 8
        Layout.fillWidth: true
        Label {
            text: root.isSearching ? "搜索结果" : "显示已完成转换的PDF文件"
            color: Theme.secondaryText
            font.pixelSize: Theme.captionSize
            elide: Text.ElideRight
            Layout.fillWidth: true
            Layout.minimumWidth: 40
        }
        Label {
            objectName: "selectedCount"
            visible: root.files && root.files.selectedCount > 0
            text: "已选择 " + (root.files ? root.files.selectedCount : 0) + " 个文件"
            color: Theme.blue
            font.pixelSize: Theme.captionSize
            leftPadding: 8
            rightPadding: 8
            topPadding: 4
            bottomPadding: 4
            background: Rectangle {
                radius: 4
                color: Qt.rgba(Theme.blue.r, Theme.blue.g, Theme.blue.b, 0.1)
            }
        }
        PlainButton {
            readonly property bool allSelected: root.files && root.files.areAllCurrentFilesSelected
            iconName: allSelected ? "checkmark.square.fill" : "square"
            iconColor: allSelected ? Theme.blue
                                   : Theme.secondaryText
            color: Theme.secondaryText
            text: "全选当前页"
            fontSize: Theme.captionSize
            spacing: 4
            onClicked: root.files.toggleSelectAllCurrentPage()
        }
    }

    // Content: the first state that applies.
    ColumnLayout {
        visible: root.page && root.page.viewModel.isLoadingHistory
        spacing: 10
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: 24
        Layout.bottomMargin: 24
        Spinner {
            size: 22
            color: Theme.blue
            running: parent.visible
            Layout.alignment: Qt.AlignHCenter
        }
        Label {
            text: "正在加载PDF文件..."
            color: Theme.secondaryText
            Layout.alignment: Qt.AlignHCenter
        }
    }
    ColumnLayout {
        visible: root.page && !root.page.viewModel.isLoadingHistory && root.files.completedCount === 0
        spacing: 8
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: 24
        Layout.bottomMargin: 24
        Icon {
            name: "doc.fill"
            size: 36
            color: Theme.secondaryText
            Layout.alignment: Qt.AlignHCenter
        }
        Label {
            text: "暂无PDF文件"
            color: Theme.secondaryText
            font.pixelSize: Theme.headlineSize
            Layout.alignment: Qt.AlignHCenter
        }
        Label {
            visible: !root.isSignedIn
            text: "请先登录账号"
            color: Theme.secondaryText
            font.pixelSize: Theme.captionSize
            Layout.alignment: Qt.AlignHCenter
        }
    }
    ColumnLayout {
        visible: root.page && !root.page.viewModel.isLoadingHistory && root.files.completedCount > 0
                 && root.isSearching && root.files.filteredCount === 0
        spacing: 8
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: 24
        Layout.bottomMargin: 24
        Icon {
            name: "doc.text.magnifyingglass"
            size: 36
            color: Theme.secondaryText
            Layout.alignment: Qt.AlignHCenter
        }
        Label {
            text: "找不到匹配的文件"
            color: Theme.secondaryText
            font.pixelSize: Theme.headlineSize
            Layout.alignment: Qt.AlignHCenter
        }
        Label {
            text: "请尝试其他搜索关键词"
            color: Theme.secondaryText
            font.pixelSize: Theme.captionSize
            Layout.alignment: Qt.AlignHCenter
        }
    }
    CardGrid {
        id: grid
        visible: root.page && !root.page.viewModel.isLoadingHistory && root.files.filteredCount > 0
        minimumColumnWidth: 160
        maximumColumnWidth: 220
        Layout.topMargin: 12
        Repeater {
            model: root.files
            HistoryPDFCard {
                required property string taskId
                required fileName
                required status
                required typeIcon
                required firstColor
                required secondColor
                required isSelected
                width: grid.cellWidth
                onSelect: root.files.toggleSelection(taskId)
                onPreview: root.page.preview(taskId)
            }
        }
    }

    // Paging row.
    RowLayout {
        visible: root.files && root.files.totalPages >= 2
        spacing: 12
        Layout.alignment: Qt.AlignHCenter
        Layout.topMargin: 12
        PlainButton {
            iconName: "chevron.left"
            help: "上一页"
            enabled: root.files && root.files.currentPage > 1
            onClicked: root.files.previousPage()
        }
        Label {
            objectName: "pageLabel"
            text: root.files ? root.files.currentPage + " / " + root.files.totalPages : ""
            color: Theme.primaryText
        }
        PlainButton {
            iconName: "chevron.right"
            help: "下一页"
            enabled: root.files && root.files.currentPage < root.files.totalPages
            onClicked: root.files.nextPage()
        }
    }
}
