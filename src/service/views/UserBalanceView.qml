import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.Service.Views

// The page balance panel: a spinner until the account is known, then the lifetime card or
// the three page figures. It reloads the account each time it is shown.
GlassMorphicCard {
    id: root

    property AuthManager authManager
    readonly property BalancePanel panel: panel

    BalancePanel {
        id: panel
        authManager: root.authManager
    }

    onVisibleChanged: if (visible) panel.refresh()
    Component.onCompleted: if (visible) panel.refresh()

    Accessible.role: Accessible.Grouping
    Accessible.name: qsTr("Page balance")

    contentItem: Loader {
        sourceComponent: panel.face === BalancePanel.Lifetime ? lifetimeFace
                       : panel.face === BalancePanel.Pages ? pagesFace : loadingFace
    }

    Component {
        id: loadingFace
        Item {
            implicitHeight: spinner.implicitHeight * 1.2 + 16
            BusyIndicator {
                id: spinner
                objectName: "balanceSpinner"
                anchors.centerIn: parent
                scale: 1.2
                running: panel.face === BalancePanel.Loading
            }
        }

    }

    Component {
        id: lifetimeFace
        Rectangle {
            objectName: "lifetimeCard"
            implicitHeight: lifetime.implicitHeight + 24
            radius: 12
            color: Qt.rgba(Theme.yellow.r, Theme.yellow.g, Theme.yellow.b, 0.05)
            border.width: 1
            border.color: Qt.rgba(Theme.yellow.r, Theme.yellow.g, Theme.yellow.b, 0.2)
            ColumnLayout {
                id: lifetime
                anchors.fill: parent
                anchors.margins: 12
                spacing: 12
                RowLayout {
                    spacing: 8
                    Icon { name: "crown.fill"; color: Theme.yellow; size: 22 }
                    Label {
                        text: qsTr("Lifetime Membership")
                        color: Theme.yellow
                        font.pixelSize: Theme.headlineSize
                        font.bold: true
                    }
                }
                Label {
                    text: panel.lifetimeDescription
                    visible: text !== ""
                    color: Theme.secondaryText
                    font.pixelSize: Theme.captionSize
                    wrapMode: Text.Wrap
                    Layout.fillWidth: true
                }
                RowLayout {
                    objectName: "dailyRow"
                    visible: panel.showDailyRow
                    spacing: 24
                    Label {
                        objectName: "dailyUsage"
                        text: qsTr("Daily Usage: ") + panel.dailyUsageText
                        color: Theme.blue
                        font.pixelSize: Theme.subheadlineSize
                    }
                    Label {
                        objectName: "dailyRemain"
                        text: qsTr("Remain: ") + panel.dailyRemain
                        color: Theme.blue
                        font.pixelSize: Theme.subheadlineSize
                    }
                }
                ProgressTrack {
                    objectName: "dailyBar"
                    visible: panel.showDailyRow
                    implicitHeight: 6
                    ratio: Math.max(0, Math.min(1, panel.dailyRatio))
                    fromColor: Theme.green
                    toColor: Theme.yellow
                    Layout.fillWidth: true
                }
            }
        }

    }

    Component {
        id: pagesFace
        ColumnLayout {
            spacing: 16
            Item {
                id: figures
                Layout.fillWidth: true
                implicitHeight: figureColumns.count > 0 && figureColumns.itemAt(0) ? figureColumns.itemAt(0).implicitHeight : 0
                Row {
                    anchors.fill: parent
                    spacing: 16
                Repeater {
                    id: figureColumns
                    // A fixed model: the figures are bound below, so new figures never rebuild the columns.
                    model: [
                        { icon: "doc.text.fill", label: qsTr("Usage") },
                        { icon: "chart.bar.fill", label: qsTr("Remain") },
                        { icon: "sum", label: qsTr("Total") }
                    ]
                    ColumnLayout {
                        required property var modelData
                        required property int index
                        readonly property var value: [panel.usage, panel.remain, panel.total][index]
                        readonly property color tone: [Theme.blue, Theme.orange, Theme.red][index]
                        spacing: 6
                        // Equal shares of the width, whatever the figures' lengths.
                        width: (figures.width - 32) / 3
                        Accessible.role: Accessible.StaticText
                        Accessible.name: modelData.label + " " + value
                        RowLayout {
                            spacing: 6
                            Icon { name: modelData.icon; color: tone; size: 20 }
                            Label {
                                text: modelData.label
                                color: Theme.primaryText
                                font.pixelSize: Theme.headlineSize
                                font.bold: true
                            }
                        }
                        Label {
                            objectName: "figure_" + modelData.icon
                            text: String(value)
                            color: tone
                            font.pixelSize: 24
                            font.bold: true
                        }
                    }
                }
            }
            }
            ProgressTrack {
                objectName: "pageBar"
                visible: panel.showPageBar
                ratio: panel.pageUsageRatio
                fromColor: Theme.blue
                toColor: Theme.orange
                Layout.fillWidth: true
            }
            Label {
                visible: panel.showPageBar && text !== ""
                text: panel.pageBalanceDescription
                color: Theme.secondaryText
                font.pixelSize: Theme.captionSize
                wrapMode: Text.Wrap
                Layout.fillWidth: true
            }
        }
    }
}
