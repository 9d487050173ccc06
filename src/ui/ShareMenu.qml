import QtQuick
import Quorvel.Ui
import QtQuick.Controls

// The small menu of "Share file": open the file, show it in its folder, copy its path.
Menu {
    id: menu
    property url file

    FileActions { id: actions }
    FileRevealer { id: revealer }

    MenuItem {
        text: qsTr("Open")
        onTriggered: actions.open(menu.file)
    }
    MenuItem {
        text: qsTr("Show in folder")
        onTriggered: revealer.reveal(actions.localPath(menu.file))
    }
    MenuItem {
        text: qsTr("Copy path")
        onTriggered: actions.copyPath(menu.file)
    }
}
