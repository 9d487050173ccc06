import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// One uploaded file: its name, its page count and a "Success" / "Failed" capsule.
Control {
    id: root
    // { fileName, pagesText, succeeded, statusText }
    property var row

    topPadding: 8
    bottomPadding: 8
    leftPadding: 12
    rightPadding: 12
    Accessible.role: Accessible.ListItem
    Accessible.name: row.fileName + ", " + row.pagesText + ", " + row.statusText

    background: Rectangle {
        radius: 12
        color: Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g, Theme.cardBackground.b,
                       Theme.cardBackground.a * 0.5)
    }
    contentItem: RowLayout {
        spacing: 10
        Icon { name: "doc.fill"; color: Theme.blue; size: 20 }
        ColumnLayout {
            spacing: 2
            Layout.fillWidth: true
            Label {
                text: root.row.fileName
                color: Theme.primaryText
                font.pixelSize: Theme.bodySize
                elide: Text.ElideMiddle
                Layout.fillWidth: true
            }
            Label {
                objectName: "pagesLabel"
                text: root.row.pagesText
                color: Theme.secondaryText
                font.pixelSize: Theme.captionSize
            }
        }
        Label {
            id: capsule
            objectName: "statusCapsule"
            readonly property color tone: root.row.succeeded ? Theme.green : Theme.red
            text: root.row.statusText
            color: tone
            font.pixelSize: Theme.captionSize
            leftPadding: 8
            rightPadding: 8
            topPadding: 4
            bottomPadding: 4
            background: Rectangle {
                radius: 8
                color: Qt.rgba(capsule.tone.r, capsule.tone.g, capsule.tone.b, 0.2)
            }
        }
    }
}
