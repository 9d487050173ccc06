import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.Assistant

// A feature's page: back, title and "start chat"; its description; what it does; and the
// PDF files picked on the home page.
ColumnLayout {
    id: root

    // { feature, title, description, icon, functions: [{ text, icon }] }
    property var feature: ({})
    // [{ taskId, fileName, status, typeIcon, firstColor, secondColor }]
    property var historyTasks: []
    // The files picked on this page; starts empty each time the page opens.
    property var selectedPDFs: []
    signal back()
    signal startChat()
    signal selectPDF(string taskId)

    function toggle(taskId) {
        const i = selectedPDFs.indexOf(taskId)
        selectedPDFs = i < 0 ? selectedPDFs.concat([taskId])
                             : selectedPDFs.filter(id => id !== taskId)
    }

    spacing: 16

    RowLayout {
        spacing: 12
        Layout.fillWidth: true
        PlainButton {
            iconName: "chevron.left"
            text: "返回"
            onClicked: root.back()
        }
        Label {
            text: root.feature.title || ""
            color: Theme.primaryText
            font.pixelSize: Theme.headlineSize
            font.bold: true
            elide: Text.ElideRight
            Accessible.role: Accessible.Heading
            Layout.fillWidth: true
        }
        ProminentButton {
            text: "开始对话"
            leftPadding: 12
            rightPadding: 12
            topPadding: 6
            bottomPadding: 6
            onClicked: root.startChat()
            background: Rectangle {
                radius: 8
                color: Theme.accentFill
                opacity: parent.pressed ? 0.8 : 1
                border.width: parent.visualFocus ? 2 : 0
                border.color: Theme.primaryText
            }
        }
    }

    Label {
        text: root.feature.description || ""
        color: Theme.secondaryText
        wrapMode: Text.Wrap
        Layout.fillWidth: true
    }

    Label {
        text: "功能"
        color: Theme.blue
        font.pixelSize: Theme.title3Size
        font.bold: true
        Accessible.role: Accessible.Heading
    }
    CardGrid {
        id: functionGrid
        minimumColumnWidth: 200
        Repeater {
            model: root.feature.functions || []
            Rectangle {
                required property var modelData
                width: functionGrid.cellWidth
                implicitHeight: functionRow.implicitHeight + 24
                radius: 8
                color: Theme.cardBackground
                border.width: 0.5
                border.color: Theme.cardBorder
                Accessible.role: Accessible.StaticText
                Accessible.name: modelData.text
                RowLayout {
                    id: functionRow
                    anchors.fill: parent
                    anchors.margins: 12
                    spacing: 10
                    Icon {
                        name: modelData.icon
                        color: Theme.blue
                    }
                    Label {
                        text: modelData.text
                        color: Theme.primaryText
                        font.pixelSize: Theme.subheadlineSize
                        wrapMode: Text.Wrap
                        Layout.fillWidth: true
                    }
                }
            }
        }
    }

    Label {
        text: "选择PDF文件"
        color: Theme.blue
        font.pixelSize: Theme.title3Size
        font.bold: true
        Accessible.role: Accessible.Heading
    }
    Label {
        visible: root.historyTasks.length === 0
        text: "请先选择PDF文件"
        color: Theme.secondaryText
        padding: 16
    }
    CardGrid {
        id: pdfGrid
        visible: root.historyTasks.length > 0
        minimumColumnWidth: 160
        maximumColumnWidth: 220
        Repeater {
            model: root.historyTasks
            SelectablePDFCard {
                required property var modelData
                width: pdfGrid.cellWidth
                fileName: modelData.fileName
                status: modelData.status
                typeIcon: modelData.typeIcon
                firstColor: modelData.firstColor
                secondColor: modelData.secondColor
                isSelected: root.selectedPDFs.indexOf(modelData.taskId) >= 0
                onSelect: root.toggle(modelData.taskId)
                onPreview: root.selectPDF(modelData.taskId)
            }
        }
    }
}
