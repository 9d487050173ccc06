import QtQuick
import QtQuick.Controls
import Quorvel.Ui

// The reader's page area: one page of `url` at a time, scaled to fit, following
// `currentPage`. When `message` is set (the file cannot be opened) it shows that instead.
Item {
    id: root

    property url url
    property int currentPage: 0
    property string message
    // What the paging needs from the document.
    readonly property int pageCount: pageItem.pageCount
    readonly property bool failed: pageItem.status === PdfPageItem.Error
    // The page on screen now (-1 before one is drawn), and whether it is `currentPage`.
    readonly property int shownPage: pageItem.drawnPage
    readonly property bool pageDrawn: pageItem.pageDrawn

    Accessible.role: Accessible.Graphic
    Accessible.name: message !== "" ? message : qsTr("Page %1").arg(currentPage + 1)

    PdfPageItem {
        id: pageItem
        anchors.fill: parent
        anchors.margins: 16
        visible: root.message === ""
        source: root.url
        page: root.currentPage
    }

    Label {
        objectName: "readerMessage"
        visible: root.message !== ""
        anchors.centerIn: parent
        width: Math.min(implicitWidth, parent.width - 48)
        text: root.message
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
        color: Theme.secondaryText
        font.pixelSize: Theme.title3Size
    }
}
