import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// A reader for one local PDF: close, previous, "N / M", next and share over a page area that
// shows one page at a time. The window is reused: `open` shows another file from its first page.
ApplicationWindow {
    id: window

    property url url
    property alias currentPage: paging.currentPage
    readonly property alias totalPages: paging.totalPages
    readonly property alias paging: paging
    readonly property alias pageView: pageView

    title: paging.fileName !== "" ? paging.fileName : qsTr("PDF Reader")
    width: 900
    height: 760
    minimumWidth: 800
    minimumHeight: 600
    color: Theme.windowBase

    function open(fileUrl) {
        url = fileUrl
        paging.first()
        show()
        raise()
        requestActivate()
    }
    function dismiss() {
        shareMenu.close()
        close()
    }

    ReaderPaging {
        id: paging
        url: window.url
        documentPageCount: pageView.pageCount
        documentFailed: pageView.failed
    }

    Shortcut { sequences: ["Left", "PgUp"]; onActivated: paging.previous() }
    Shortcut { sequences: ["Right", "PgDown"]; onActivated: paging.next() }
    Shortcut { sequence: "Home"; onActivated: paging.first() }
    Shortcut { sequence: "End"; onActivated: paging.last() }
    Shortcut { sequence: StandardKey.Cancel; onActivated: window.dismiss() }

    header: Rectangle {
        implicitHeight: toolbar.implicitHeight + 16
        color: Theme.windowBackground

        RowLayout {
            id: toolbar
            anchors.fill: parent
            anchors.leftMargin: 12
            anchors.rightMargin: 12
            spacing: 8

            PlainButton {
                objectName: "readerClose"
                iconName: "xmark.circle.fill"
                iconSize: Theme.title2Size
                help: qsTr("Close (Esc)")
                Accessible.name: qsTr("Close")
                onClicked: window.dismiss()
            }
            Item { Layout.fillWidth: true }
            PlainButton {
                objectName: "readerPrevious"
                iconName: "chevron.left"
                iconSize: Theme.title2Size
                enabled: paging.canGoPrevious
                help: qsTr("Previous page")
                Accessible.name: qsTr("Previous page")
                onClicked: paging.previous()
            }
            Label {
                objectName: "readerCounter"
                text: paging.counterText
                color: Theme.primaryText
                font.pixelSize: Theme.headlineSize
                font.weight: Font.DemiBold
                leftPadding: 12
                rightPadding: 12
                Accessible.role: Accessible.StaticText
                Accessible.name: qsTr("Page %1 of %2").arg(paging.currentPage + 1).arg(paging.totalPages)
            }
            PlainButton {
                objectName: "readerNext"
                iconName: "chevron.right"
                iconSize: Theme.title2Size
                enabled: paging.canGoNext
                help: qsTr("Next page")
                Accessible.name: qsTr("Next page")
                onClicked: paging.next()
            }
            Item { Layout.fillWidth: true }
            PlainButton {
                id: shareButton
                objectName: "readerShare"
                iconName: "square.and.arrow.up"
                iconSize: Theme.title2Size
                help: qsTr("Share file")
                Accessible.name: qsTr("Share file")
                onClicked: {
                    shareMenu.file = window.url
                    shareMenu.popup(shareButton, 0, shareButton.height)
                }
            }
        }
    }

    PDFReaderView {
        id: pageView
        anchors.fill: parent
        focus: true
        url: window.url
        currentPage: paging.currentPage
        message: paging.errorText
    }

    ShareMenu { id: shareMenu }
}
