import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// One fact of a card: icon in its colour, a small title, the value.
RowLayout {
    id: item

    property string icon
    property string title
    property string value
    property color color: "gray"

    spacing: 4
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ": " + value

    Icon {
        name: item.icon
        size: Theme.captionSize + 2
        color: item.color
    }
    Label {
        text: item.title
        font.pixelSize: Theme.captionSize - 1
        color: Theme.secondaryText
    }
    Label {
        text: item.value
        font.pixelSize: Theme.captionSize + 1
        color: Theme.primaryText
        elide: Text.ElideRight
        Layout.maximumWidth: 160
    }
}
