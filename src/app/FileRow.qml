import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// One file of a list: its icon and name, then the row's buttons (its children).
Control {
    id: row
    property string name
    // Processed rows sit on a rounded translucent fill.
    property bool framed: false
    default property alias buttons: buttonRow.data

    topPadding: framed ? 8 : 0
    bottomPadding: framed ? 8 : 0
    leftPadding: framed ? 12 : 0
    rightPadding: framed ? 12 : 0
    Accessible.role: Accessible.ListItem
    Accessible.name: name

    background: Rectangle {
        visible: row.framed
        radius: 12
        color: Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g, Theme.cardBackground.b,
                       Theme.cardBackground.a * 0.5)
    }
    contentItem: RowLayout {
        spacing: 10
        Icon { name: "doc.fill"; color: Theme.blue; size: 20 }
        Label {
            text: row.name
            color: Theme.primaryText
            font.pixelSize: Theme.bodySize
            elide: Text.ElideMiddle
            Layout.fillWidth: true
        }
        RowLayout {
            id: buttonRow
            spacing: 4
        }
    }
}
