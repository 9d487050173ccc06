import QtQuick
import QtQuick.Templates as T
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui
import Quorvel.Service.Views

// Page 0: balance, file area, tools, the three file lists and the warm reminder.
Flickable {
    id: root
    objectName: "conversionPage"

    property ConversionPage page
    property AuthManager authManager
    signal pickFiles()
    signal previewPdf(url file)

    contentWidth: width
    contentHeight: column.implicitHeight + 64
    clip: true
    boundsBehavior: Flickable.StopAtBounds
    T.ScrollBar.vertical: PageScrollBar { policy: T.ScrollBar.AsNeeded }

    // Files dropped anywhere on the page: every file some tool takes is added (the tool is
    // chosen afterwards); the file card says what was left out and why.
    DropArea {
        id: dropArea
        objectName: "pageDropArea"
        parent: root
        anchors.fill: parent
        onEntered: function (drag) {
            drag.accepted = root.page.canDrop(drag.urls)
            if (drag.accepted)
                drag.acceptProposedAction()
        }
        onDropped: function (drop) {
            root.page.drop(drop.urls)
            drop.accept(Qt.CopyAction)
            root.showFeedback(fileCard, null)
        }
        Rectangle {
            anchors.fill: parent
            anchors.margins: 6
            radius: 16
            color: Qt.rgba(Theme.blue.r, Theme.blue.g, Theme.blue.b, 0.06)
            border.width: 2
            border.color: Theme.blue
            visible: dropArea.containsDrag
        }
    }

    // What a tool press changes (the progress, the warm reminder, the uploaded and the
    // processed rows) usually lies below the fold: the newest of it is scrolled into view once
    // laid out, and the keyboard and screen-reader focus follow the progress and the reminder.
    function showFeedback(item, focusItem) {
        feedbackTimer.item = item
        feedbackTimer.focusItem = focusItem
        feedbackTimer.attempts = 0
        feedbackTimer.restart()
    }
    function followFeedback() {
        const progress = root.findObject(column, "uploadProgress")
        if (root.page.showWarmReminder) {
            warmReminder.make()
            root.showFeedback(warmReminder.item, warmReminder.item.reselectButton)
        } else if (root.page.processedRows.length > 0)
            root.showFeedback(root.findObject(column, "processedFiles"), null)
        else if (root.page.uploadedRows.length > 0)
            root.showFeedback(root.findObject(column, "uploadedFiles"),
                              root.page.isProcessing ? progress : null)
        else if (root.page.isProcessing)
            root.showFeedback(progress, progress)
    }
    Timer {
        id: feedbackTimer
        property Item item
        property Item focusItem
        property int attempts: 0
        interval: 60
        onTriggered: {
            // A card made a moment ago may not be laid out yet.
            if (item && (!item.visible || item.height <= 0) && ++attempts < 10) {
                restart()
                return
            }
            if (item && item.visible)
                root.ensureVisible(item)
            if (focusItem && focusItem.visible && !focusItem.activeFocus)
                focusItem.forceActiveFocus(Qt.OtherFocusReason)
        }
    }
    Connections {
        target: root.page
        function onProcessingStateChanged() {
            if (root.page.showWarmReminder || root.page.isProcessing)
                root.followFeedback()
        }
        function onUploadedRowsChanged() { root.followFeedback() }
        function onProcessedRowsChanged() { root.followFeedback() }
    }
    function findObject(item, name) {
        if (!item)
            return null
        if (item.objectName === name)
            return item
        for (let i = 0; i < item.children.length; ++i) {
            const found = findObject(item.children[i], name)
            if (found)
                return found
        }
        if (item.contentItem && item.contentItem !== item) {
            const inside = findObject(item.contentItem, name)
            if (inside)
                return inside
        }
        return null
    }

    // Keeps the focused control in view while tabbing through the page.
    function ensureVisible(item) {
        if (!item)
            return
        const p = item.mapToItem(column, 0, 0)
        const top = p.y + 32
        const bottom = top + item.height
        if (top < contentY)
            contentY = Math.max(0, top - 16)
        else if (bottom > contentY + height)
            contentY = Math.min(contentHeight - height, bottom - height + 16)
    }
    Connections {
        target: root.Window.window
        function onActiveFocusItemChanged() {
            const item = root.Window.window.activeFocusItem
            let p = item
            while (p && p !== column)
                p = p.parent
            if (p === column)
                root.ensureVisible(item)
        }
    }

    ColumnLayout {
        id: column
        x: 32
        y: 32
        width: root.width - 64
        spacing: 32

        // By address, so that a start signed out does not load the balance view's types.
        // Made again at each sign-in (Loader keeps the address and the properties).
        Loader {
            objectName: "balancePanel"
            active: root.authManager && root.authManager.isLoggedIn
            visible: active
            Layout.fillWidth: true
            function make() {
                if (active && status === Loader.Null)
                    setSource("qrc:/qt/qml/Quorvel/Service/Views/UserBalanceView.qml",
                              { authManager: root.authManager })
            }
            onActiveChanged: make()
            Component.onCompleted: make()
        }

        // File area: the picker button, and why the last drop left files out.
        GlassMorphicCard {
            id: fileCard
            objectName: "fileArea"
            topPadding: 16
            bottomPadding: 16
            leftPadding: 20
            rightPadding: 20
            Layout.fillWidth: true

            contentItem: ColumnLayout {
              spacing: 10
              PlainButton {
                objectName: "pickFilesButton"
                Layout.fillWidth: true
                text: qsTr("Select files from your computer")
                help: qsTr("Choose files to convert (Ctrl+O); you can also drop files here")
                onClicked: root.pickFiles()
                contentItem: RowLayout {
                    spacing: 20
                    Icon { name: "doc.fill"; size: 24; color: Theme.blue }
                    ColumnLayout {
                        spacing: 4
                        Layout.fillWidth: true
                        T.Label {
                            text: qsTr("Select files from your computer")
                            color: Theme.primaryText
                            font.pixelSize: 14
                            font.weight: Font.Medium
                            elide: Text.ElideRight
                            Layout.fillWidth: true
                        }
                        T.Label {
                            text: qsTr("After the conversion, check the results on the history page")
                            color: Theme.orange
                            font.pixelSize: 12
                            wrapMode: Text.Wrap
                            Layout.fillWidth: true
                        }
                    }
                }
            }
              T.Label {
                objectName: "dropRefusal"
                visible: text !== ""
                text: root.page.dropRefusal
                color: Theme.red
                font.pixelSize: Theme.subheadlineSize
                wrapMode: Text.Wrap
                Layout.fillWidth: true
                Accessible.role: Accessible.AlertMessage
                Accessible.name: text
              }
            }
        }

        // Tools
        ColumnLayout {
            spacing: 16
            Layout.fillWidth: true
            T.Label {
                text: qsTr("Tools")
                color: Theme.blue
                font.pixelSize: Theme.titleSize
                font.bold: true
                Accessible.role: Accessible.Heading
            }
            GridLayout {
                id: toolGrid
                // Adaptive: as many columns of at least 180 as fit, sharing the width.
                columns: Math.max(1, Math.floor((width + columnSpacing) / (180 + columnSpacing)))
                columnSpacing: 20
                rowSpacing: 20
                Layout.fillWidth: true
                Repeater {
                    model: root.page.toolGroups
                    ToolCard {
                        required property var modelData
                        title: qsTr(modelData.title)
                        tools: modelData.tools
                        Layout.fillWidth: true
                        Layout.fillHeight: true
                        Layout.preferredWidth: 180
                        Layout.minimumWidth: 180
                        Layout.alignment: Qt.AlignTop
                        onSelect: function (name) { root.page.selectTool(name) }
                    }
                }
            }
        }

        // Selected files and the upload block, then the uploaded and the processed files: each
        // card is loaded and made when it first has rows, by address so that start-up does not
        // load its types either.
        OnDemand {
            needed: root.page.selectedRows.length > 0
            url: "qrc:/qt/qml/Quorvel/App/SelectedFilesCard.qml"
            properties: ({ page: root.page })
            Layout.fillWidth: true
            onLoaded: item.preview.connect(root.preview)
        }

        OnDemand {
            needed: root.page.uploadedRows.length > 0
            url: "qrc:/qt/qml/Quorvel/App/UploadedFilesCard.qml"
            properties: ({ page: root.page })
            Layout.fillWidth: true
        }

        OnDemand {
            needed: root.page.processedRows.length > 0
            url: "qrc:/qt/qml/Quorvel/App/ProcessedFilesCard.qml"
            properties: ({ page: root.page })
            Layout.fillWidth: true
            onLoaded: {
                item.preview.connect(root.preview)
                item.showInFolder.connect(file => revealer.reveal(fileActions.localPath(file)))
                item.share.connect(root.share)
            }
        }

        // The warning block, loaded the first time a run ends in error and kept from then on:
        // it fades in and out by itself, and takes no room while faded out.
        Loader {
            id: warmReminder
            visible: item !== null && item.opacity > 0
            Layout.fillWidth: true
            function make() {
                if (status === Loader.Null)
                    setSource("qrc:/qt/qml/Quorvel/App/WarmReminder.qml", { page: root.page })
            }
        }
    }

    // The share menu is made on first use, so start-up does not build it.
    property var shareMenu: null
    function share(url, button) {
        if (!shareMenu) {
            const component = Qt.createComponent("qrc:/qt/qml/Quorvel/Ui/ShareMenu.qml")
            shareMenu = component.createObject(root)
        }
        shareMenu.file = url
        shareMenu.popup(button, 0, button.height)
    }
    FileActions { id: fileActions }
    FileRevealer { id: revealer }

    // A PDF opens in the app's reader, any other file in the desktop's default application.
    function preview(url) {
        if (fileActions.isPdf(url))
            root.previewPdf(url)
        else
            fileActions.open(url)
    }
}
