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
    property Theme theme

    spacing: 4
    Accessible.role: Accessible.StaticText
    Accessible.name: title + ": " + value

    Icon {
        name: item.icon
        size: item.theme ? item.theme.captionSize + 2 : 13
        color: item.color
    }
    Label {
        text: item.title
        font.pixelSize: item.theme ? item.theme.captionSize - 1 : 10
        color: item.theme ? item.theme.secondaryText : "gray"
    }
    Label {
        text: item.value
        font.pixelSize: item.theme ? item.theme.captionSize + 1 : 12
        color: item.theme ? item.theme.primaryText : "black"
        elide: Text.ElideRight
        Layout.maximumWidth: 160
    }
}
