import QtQuick
import QtTest
import Quorvel.Ui
import Quorvel.App

Item {
    id: root

    Component { id: readerComponent; PDFReaderWindow {} }
    Component { id: windowComponent; ContentView {} }

    TestCase {
        name: "PDFReader"
        when: windowShown

        // Keys go to the reader once it is active and its page area has the focus.
        function openReader(file) {
            const reader = createTemporaryObject(readerComponent, root)
            reader.open(file)
            tryVerify(() => reader.active && reader.activeFocusItem === reader.pageView, 15000)
            return reader
        }
        function control(reader, name) {
            return findChild(reader.contentItem.parent, name)
        }
        // Buttons are clicked with the mouse (a disabled one ignores it).
        function press(reader, what) {
            const buttons = { previous: "readerPrevious", next: "readerNext" }
            if (buttons[what])
                mouseClick(control(reader, buttons[what]))
            else
                keyClick(what)
        }
        function checkShows(reader, page, pages) {
            compare(reader.currentPage, page)
            compare(control(reader, "readerCounter").text, (page + 1) + " / " + pages)
            compare(control(reader, "readerPrevious").enabled, page > 0)
            compare(control(reader, "readerNext").enabled, page < pages - 1)
        }

        function test_paging_data() {
            const K = Qt
            return [
                { tag: "one page", pages: 1,
                  presses: ["next", "previous", K.Key_Right, K.Key_PageDown, K.Key_End, K.Key_Left],
                  expected: [0, 0, 0, 0, 0, 0] },
                { tag: "twelve pages, past the end", pages: 12,
                  presses: ["next", K.Key_Right, K.Key_PageDown, K.Key_End, "next", K.Key_PageDown, "previous"],
                  expected: [1, 2, 3, 11, 11, 11, 10] },
                { tag: "twelve pages, before the start", pages: 12,
                  presses: ["previous", K.Key_Left, K.Key_PageUp, "next", "next", K.Key_Home, "previous", K.Key_PageUp],
                  expected: [0, 0, 0, 1, 2, 0, 0, 0] },
                { tag: "not a PDF", file: "notes.txt", pages: 1,
                  presses: ["next", K.Key_End, K.Key_Right, "previous"],
                  expected: [0, 0, 0, 0] },
                { tag: "a named pipe", file: "pipe.pdf", pipe: true, pages: 1,
                  presses: ["next", K.Key_End],
                  expected: [0, 0] }
            ]
        }
        function test_paging(data) {
            const file = data.pipe ? service.fifo(data.file)
                       : data.file ? service.file(data.file)
                       : service.pdf("doc" + data.pages + ".pdf", data.pages)
            const reader = openReader(file)
            const message = control(reader, "readerMessage")
            if (data.file) {
                tryVerify(() => message.visible)
                compare(message.text, "Cannot open " + data.file + " as a PDF")
            } else {
                tryCompare(reader.pageView, "shownPage", 0)
                compare(message.visible, false)
            }
            checkShows(reader, 0, data.pages)
            for (let i = 0; i < data.presses.length; ++i) {
                press(reader, data.presses[i])
                checkShows(reader, data.expected[i], data.pages)
                if (!data.file)
                    tryCompare(reader.pageView, "shownPage", data.expected[i])
            }
        }

        // The window as it is drawn on screen.
        function picture(reader) {
            tryVerify(() => reader.pageView.pageDrawn)
            return grabImage(reader.contentItem.parent)
        }
        // The test files print the page number in the middle of the page.
        function inkOnMiddleLine(reader, image) {
            const y = Math.round(reader.pageView.mapToItem(null, 0, reader.pageView.height / 2).y)
            for (let x = 0; x < image.width; ++x) {
                if (image.pixel(x, y).r < 0.5)
                    return true
            }
            return false
        }
        // A turn made before the first page is drawn draws the page turned to, where it belongs.
        // The file is opened on a worker: setting the source returns at once, still loading.
        function test_openingDoesNotWait() {
            const item = createTemporaryQmlObject("import Quorvel.Ui; PdfPageItem { width: 200; height: 300 }", root)
            item.source = service.pdf("doc40.pdf", 40)
            compare(item.status, PdfPageItem.Loading)
            compare(item.pageCount, 0)
            tryCompare(item, "status", PdfPageItem.Ready, 15000)
            compare(item.pageCount, 40)
        }

        function test_earlyTurnDrawsThatPage() {
            const reader = openReader(service.pdf("early.pdf", 3))
            tryCompare(reader, "totalPages", 3)
            reader.paging.next()
            tryCompare(reader.pageView, "shownPage", 1)
            const second = picture(reader)
            verify(inkOnMiddleLine(reader, second))
            reader.paging.first()
            tryCompare(reader.pageView, "shownPage", 0)
            verify(!second.equals(picture(reader)))
        }

        // A render still running when its reader opens another file, or is destroyed, is
        // dropped harmlessly; the page asked for last is the one drawn.
        function test_renderOvertaken_data() {
            return [{ tag: "another file opened" }, { tag: "reader destroyed", destroy: true }]
        }
        function test_renderOvertaken(data) {
            let reader = createTemporaryObject(readerComponent, root)
            reader.open(service.pdf("busy.pdf", 12))
            // Files open on a worker: pages can be turned once the count is known.
            tryCompare(reader, "totalPages", 12)
            reader.paging.last()
            if (data.destroy) {
                reader.destroy()
                reader = createTemporaryObject(readerComponent, root)
            }
            reader.open(service.pdf("next.pdf", 3))
            tryCompare(reader, "totalPages", 3)
            reader.paging.next()
            tryCompare(reader.pageView, "shownPage", 1)
            verify(reader.pageView.pageDrawn)
            compare(reader.totalPages, 3)
        }

        function test_reuseStartsTheNextFileOnItsFirstPage() {
            const reader = createTemporaryObject(readerComponent, root)
            reader.open(service.pdf("five.pdf", 5))
            tryCompare(reader, "totalPages", 5)
            reader.paging.last()
            reader.open(service.file("broken.pdf"))
            tryVerify(() => control(reader, "readerMessage").visible)
            checkShows(reader, 0, 1)
            reader.open(service.pdf("three.pdf", 3))
            tryCompare(reader.pageView, "shownPage", 0)
            verify(!control(reader, "readerMessage").visible)
            checkShows(reader, 0, 3)
        }

        function test_escapeAndCloseButtonClose() {
            const reader = openReader(service.pdf("two.pdf", 2))
            keyClick(Qt.Key_Escape)
            tryCompare(reader, "visible", false)
            reader.open(service.pdf("two.pdf", 2))
            tryVerify(() => reader.visible, 15000)
            mouseClick(control(reader, "readerClose"))
            tryCompare(reader, "visible", false)
        }

        // Preview of a selected PDF opens the reader of the window, once for every preview.
        function test_previewOpensTheReader() {
            service.reset()
            const win = createTemporaryObject(windowComponent, null)
            win.show()
            win.conversionPage.addPickedFiles([service.pdf("report.pdf", 3)])
            const preview = findChild(win.contentItem, "previewSelected")
            tryVerify(() => preview && preview.visible)
            mouseClick(preview)
            tryVerify(() => win.pdfReader && win.pdfReader.visible)
            tryCompare(win.pdfReader, "totalPages", 3)
            const reader = win.pdfReader
            reader.close()
            mouseClick(preview)
            tryVerify(() => reader.visible, 15000)
            compare(win.pdfReader, reader)
        }
    }
}
