import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui

// One file of a list: its icon and name, then the row's buttons (its children).
Control {
    id: row
    property Theme theme
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
        color: Qt.rgba(row.theme.cardBackground.r, row.theme.cardBackground.g, row.theme.cardBackground.b,
                       row.theme.cardBackground.a * 0.5)
    }
    contentItem: RowLayout {
        spacing: 10
        Icon { name: "doc.fill"; color: row.theme.blue; size: 20 }
        Label {
            text: row.name
            color: row.theme.primaryText
            font.pixelSize: row.theme.bodySize
            elide: Text.ElideMiddle
            Layout.fillWidth: true
        }
        RowLayout {
            id: buttonRow
            spacing: 4
        }
    }
}
