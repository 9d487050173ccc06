import QtQuick
import QtQuick.Controls
import QtQuick.Pdf
import Quorvel.Ui

// The reader's page area: one page of `url` at a time, scaled to fit, following
// `currentPage`. When `message` is set (the file cannot be opened) it shows that instead.
Item {
    id: root

    property url url
    property int currentPage: 0
    property string message
    property Theme theme
    // What the paging needs from the document.
    readonly property int pageCount: document.status === PdfDocument.Status.Ready ? document.pageCount : 0
    readonly property bool failed: document.status === PdfDocument.Status.Error
    // The page the view shows now (-1 before the document is ready).
    readonly property int shownPage: document.status === PdfDocument.Status.Ready ? pageView.currentPage : -1
    // Whether the shown page is drawn (pages render in the background).
    readonly property bool pageDrawn: firstDrawn && pageView.status === Image.Ready

    Accessible.role: Accessible.Graphic
    Accessible.name: message !== "" ? message : qsTr("Page %1").arg(currentPage + 1)

    PdfDocument {
        id: document
        source: root.url
        onStatusChanged: {
            root.firstDrawn = false
            root.show()
        }
    }
    // Qt 6.4's page image draws (and caches) the first page for any page asked for before its
    // first render is in, so a turn waits for that render.
    property bool firstDrawn: false
    Connections {
        target: pageView
        function onStatusChanged() {
            if (root.firstDrawn || (pageView.status !== Image.Ready && pageView.status !== Image.Error))
                return
            root.firstDrawn = true
            root.show()
        }
    }

    PdfPageView {
        id: pageView
        document: document
        anchors.centerIn: parent
        visible: document.status === PdfDocument.Status.Ready && root.message === ""
        zoomEnabled: false
        color: "white"
    }

    Label {
        objectName: "readerMessage"
        visible: root.message !== ""
        anchors.centerIn: parent
        width: Math.min(implicitWidth, parent.width - 48)
        text: root.message
        wrapMode: Text.Wrap
        horizontalAlignment: Text.AlignHCenter
        color: root.theme ? root.theme.secondaryText : "gray"
        font.pixelSize: root.theme ? root.theme.title3Size : 18
    }

    onCurrentPageChanged: show()
    onWidthChanged: fit()
    onHeightChanged: fit()

    // A page outside the document leaves the view where it is.
    function show() {
        if (document.status !== PdfDocument.Status.Ready)
            return
        if (currentPage < 0 || currentPage >= document.pageCount || !firstDrawn) {
            fit()
            return
        }
        pageView.goToPage(currentPage)
        fit()
    }

    // The whole page fits the area, with a margin around it.
    function fit() {
        if (document.status !== PdfDocument.Status.Ready || pageView.currentPage < 0)
            return
        const size = document.pagePointSize(pageView.currentPage)
        if (size.width <= 0 || size.height <= 0)
            return
        const margin = 16
        pageView.renderScale = Math.max(0.05, Math.min((width - 2 * margin) / size.width,
                                                       (height - 2 * margin) / size.height))
    }
}
