import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.History.Views

// The status capsule: icon and tint follow from the text and the completed flag.
Rectangle {
    id: badge

    property string status
    property bool isCompleted: false
    readonly property color tint: LookColors.of(BadgeLook.tint(status, isCompleted))
    readonly property string iconName: BadgeLook.icon(status, isCompleted)

    implicitWidth: row.implicitWidth + 20
    implicitHeight: row.implicitHeight + 8
    radius: height / 2
    color: Qt.rgba(tint.r, tint.g, tint.b, 0.15)
    border.width: 1
    border.color: Qt.rgba(tint.r, tint.g, tint.b, 0.3)
    Accessible.role: Accessible.StaticText
    Accessible.name: status

    RowLayout {
        id: row
        anchors.centerIn: parent
        spacing: 4
        BouncingIcon {
            name: badge.iconName
            size: Theme.captionSize + 2
            color: badge.tint
            bouncing: badge.status !== "Failed" && !badge.isCompleted
        }
        Label {
            text: badge.status
            font.pixelSize: Theme.captionSize
            font.bold: true
            color: badge.status === "Failed" ? badge.tint
                                             : Theme.primaryText
        }
    }
}
