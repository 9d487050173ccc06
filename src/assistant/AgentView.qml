import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.Assistant

// Page 2, the document assistant: the header with the refresh, then the home page (my PDF
// files and the features), a feature's page, or the chat.
Item {
    id: root
    objectName: "agentView"

    property alias page: page
    // The window's account object.
    property var authManager
    // A local PDF to show in the reader.
    signal previewRequested(url file)

    AssistantPage {
        id: page
        authManager: root.authManager
        onPreviewRequested: file => root.previewRequested(file)
    }

    // The list's page size follows the page's width from its first change on.
    property bool widthMeasured: false
    onWidthChanged: {
        if (width <= 0)
            return
        if (widthMeasured)
            page.files.windowWidth = width
        widthMeasured = true
    }
    Component.onCompleted: page.appear()

    BackgroundLayerView {
        anchors.fill: parent
    }

    ColumnLayout {
        anchors.fill: parent
        spacing: 0
        visible: !page.showChat

        // Header.
        RowLayout {
            spacing: 12
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.topMargin: 16
            Label {
                text: "智能助手"
                color: Theme.blue
                font.pixelSize: Theme.titleSize
                font.bold: true
                Accessible.role: Accessible.Heading
            }
            Item { Layout.fillWidth: true }
            PlainButton {
                id: refreshButton
                help: "刷新"
                implicitWidth: 32
                implicitHeight: 32
                padding: 0
                onClicked: page.refresh()
                contentItem: Icon {
                    name: "arrow.clockwise"
                    size: 16
                    color: Theme.blue
                    RotationAnimator on rotation {
                        running: page.viewModel.isLoadingHistory
                        from: 0
                        to: 360
                        duration: 1000
                        loops: Animation.Infinite
                        onStopped: rotation = 0
                    }
                }
                background: Rectangle {
                    radius: 16
                    color: Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g,
                                   Theme.cardBackground.b, Theme.cardBackground.a * 0.5)
                    border.width: refreshButton.visualFocus ? 2 : 0
                    border.color: Theme.blue
                }
            }
        }

        // A preview being prepared, or why there is nothing to show.
        Rectangle {
            objectName: "previewBanner"
            visible: page.isPreparingPreview || page.previewMessage !== ""
            Layout.fillWidth: true
            Layout.leftMargin: 24
            Layout.rightMargin: 24
            Layout.topMargin: 12
            implicitHeight: bannerRow.implicitHeight + 16
            radius: 8
            color: Qt.rgba(Theme.orange.r, Theme.orange.g, Theme.orange.b, 0.12)
            RowLayout {
                id: bannerRow
                anchors.fill: parent
                anchors.margins: 8
                spacing: 8
                Spinner {
                    running: page.isPreparingPreview
                    size: 16
                    color: Theme.blue
                }
                Icon {
                    visible: !page.isPreparingPreview
                    name: "exclamationmark.triangle.fill"
                    color: Theme.orange
                }
                Label {
                    text: page.isPreparingPreview ? "正在准备预览..." : page.previewMessage
                    color: Theme.primaryText
                    wrapMode: Text.Wrap
                    Accessible.role: Accessible.AlertMessage
                    Accessible.name: text
                    Layout.fillWidth: true
                }
                PlainButton {
                    visible: !page.isPreparingPreview
                    iconName: "xmark"
                    help: "关闭"
                    onClicked: page.previewMessage = ""
                }
            }
        }

        Flickable {
            id: scroller
            objectName: "assistantScroller"
            Layout.fillWidth: true
            Layout.fillHeight: true
            contentWidth: width
            contentHeight: content.implicitHeight + 48
            clip: true
            boundsBehavior: Flickable.StopAtBounds
            ScrollBar.vertical: ScrollBar { policy: ScrollBar.AsNeeded }

            Item {
                id: content
                x: 24
                y: 24
                width: scroller.width - 48
                implicitHeight: page.selectedFeature >= 0 ? detail.implicitHeight : home.implicitHeight

                ColumnLayout {
                    id: home
                    visible: page.selectedFeature < 0
                    width: parent.width
                    spacing: 24

                    GlassMorphicSection {
                        title: "我的PDF文件"
                        Layout.fillWidth: true
                        PDFFilesContentView {
                            page: page
                            // The rows of cards (about 206 px each) that fit below the page's
                            // title, search and summary rows (about 300 px) with the paging row
                            // and the features' title still in view (about 120 px).
                            rows: Math.max(1, Math.floor((root.height - 420) / 206))
                            Layout.fillWidth: true
                        }
                    }
                    GlassMorphicSection {
                        title: "智能功能"
                        Layout.fillWidth: true
                        CardGrid {
                            id: featureGrid
                            minimumColumnWidth: 280
                            spacing: 24
                            Repeater {
                                model: page.features
                                FeatureCard {
                                    required property var modelData
                                    width: featureGrid.cellWidth
                                    feature: modelData
                                    onTap: page.tapFeature(modelData.feature)
                                }
                            }
                        }
                    }
                }

                FeatureDetailView {
                    id: detail
                    visible: page.selectedFeature >= 0
                    width: parent.width
                    feature: page.selectedFeatureInfo
                    historyTasks: page.historyTasks
                    onBack: page.closeFeature()
                    onStartChat: page.startChat()
                    onSelectPDF: taskId => page.preview(taskId)
                    Connections {
                        target: page
                        function onSelectedFeatureChanged() { detail.selectedPDFs = [] }
                    }
                }
            }
        }
    }

    Loader {
        anchors.fill: parent
        active: page.showChat
        sourceComponent: ChatView {
            chat: page.chat
            selectedPDFName: page.selectedPDFName
            onBack: page.leaveChat()
        }
    }
}
