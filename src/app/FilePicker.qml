import QtQuick
import QtQuick.Dialogs
import Quorvel.App

// The file picker of the window, in its own file so the window loads QtQuick.Dialogs only when
// the picker is first opened.
FileDialog {
    property ConversionPage page

    title: qsTr("Select files")
    fileMode: FileDialog.OpenFiles
    nameFilters: page ? page.nameFilters : []
    onAccepted: page.addPickedFiles(selectedFiles)
}
