import QtQuick
import QtQuick.Controls
import Quorvel.App
import Quorvel.Ui

// The blue title of a file list.
Label {
    property Theme theme
    color: theme ? theme.blue : "blue"
    font.pixelSize: theme ? theme.title3Size : 19
    font.bold: true
    Accessible.role: Accessible.Heading
}
