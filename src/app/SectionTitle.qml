import QtQuick
import QtQuick.Controls
import Quorvel.App
import Quorvel.Ui

// The blue title of a file list.
Label {
    color: Theme.blue
    font.pixelSize: Theme.title3Size
    font.bold: true
    Accessible.role: Accessible.Heading
}
