import QtQuick
import Quorvel.Ui

// One icon of the design, drawn from the icon font by its identifier ("doc.fill").
Text {
    property string name
    property real size: 18

    text: Icons.ligature(name)
    font.family: Icons.fontFamily
    font.pixelSize: size
    horizontalAlignment: Text.AlignHCenter
    verticalAlignment: Text.AlignVCenter
    Accessible.ignored: true
}
