import QtQuick
import QtTest
import Quorvel.Ui
import Quorvel.App
import Quorvel.History.Views

Item {
    id: root
    width: 1000
    height: 700

    readonly property string historyPath: "/api/v1/tollan/convert/all"

    function job(id, status, extra) {
        const j = { id: id, user_id: "u1", typ: "pdf2doc", file_name: id + ".pdf", page_number: 3,
                    source_file_path: "/up/" + id, source_file_typ: "pdf", result_file_typ: "docx",
                    source_file_md5: "md5-" + id, status: status, create_at: "2025-01-31 08:15:00" }
        for (const k in extra)
            j[k] = extra[k]
        return j
    }
    function history(jobs) {
        return JSON.stringify({ code: 0, msg: "ok", data: { converts: jobs } })
    }

    Component { id: viewModelComponent; PDFViewModel {} }
    Component {
        id: pageComponent
        HistoryPageView { anchors.fill: parent; windowShown: true }
    }
    Component { id: windowComponent; ContentView {} }

    TestCase {
        name: "HistoryPage"
        when: windowShown

        function openPage(jobs, delayMs) {
            service.reset()
            service.answer("GET", historyPath, 200, history(jobs), delayMs || 0)
            const vm = createTemporaryObject(viewModelComponent, root)
            const view = createTemporaryObject(pageComponent, root, { viewModel: vm, selected: true })
            tryVerify(() => !vm.isLoadingHistory && view.page.listState !== HistoryPage.Loading)
            return view
        }
        function cards(view) {
            const list = findChild(view, "taskList")
            list.forceLayout()
            const out = []
            const children = list.contentItem.children
            for (let i = 0; i < children.length; ++i)
                if (children[i].presenter)
                    out.push(children[i])
            return out
        }
        function card(view, id) {
            let found = null
            tryVerify(() => (found = cards(view).find(c => c.presenter.id === id)) !== undefined)
            return found
        }

        // Badge, leading icon, action and result by status; the sheet says the same.
        function test_cardsByStatus_data() {
            return [
                { tag: "completed", status: 1, badge: "Completed", icon: "doc.fill.badge.checkmark", color: "green",
                  sheetIcon: "checkmark.circle.fill", action: "downloadButton", result: true },
                { tag: "failed", status: 2, badge: "Failed", icon: "xmark.circle", color: "red",
                  sheetIcon: "xmark.circle.fill", action: "retryButton", result: false },
                { tag: "status 7", status: 7, badge: "Converting", icon: "arrow.triangle.2.circlepath", color: "blue",
                  sheetIcon: "arrow.triangle.2.circlepath", action: "", result: false },
            ]
        }
        function test_cardsByStatus(data) {
            const view = openPage([job("j", data.status, { fail_reason: "timed out", note: "nothing charged" })])
            const c = card(view, "j")
            compare(findChild(c, "statusBadge").status, data.badge)
            compare(findChild(c, "statusIcon").name, data.icon)
            compare(findChild(c, "statusIcon").color, Theme[data.color])
            for (const name of ["downloadButton", "retryButton"])
                compare(findChild(c, name).visible, name === data.action, name)
            compare(findChild(c, "resultItem").visible, data.result)

            c.open()
            tryCompare(view.sheet, "opened", true)
            compare(findChild(view.sheet.contentItem, "sheetStatusText").text, data.badge)
            compare(findChild(view.sheet.contentItem, "sheetStatusIcon").name, data.sheetIcon)
            compare(findChild(view.sheet.contentItem, "resultTypeRow").visible, data.result)
            // Why it failed is shown for a failed job only.
            const reason = findChild(view.sheet.contentItem, "failReasonRow")
            compare(reason.visible, data.status === 2)
            compare(reason.value, data.status === 2 ? "timed out" : "")
            // and a note for a completed one only.
            const note = findChild(view.sheet.contentItem, "noteRow")
            compare(note.visible, data.status === 1)
            compare(note.value, data.status === 1 ? "nothing charged" : "")
            view.sheet.close()
            tryCompare(view.viewModel, "showTaskDetail", false)
        }

        // A failed job being retried reads "Retrying" and keeps its red cross until the list
        // entry changes; the card goes back once the retried job is listed as failed.
        function test_retryingCard() {
            const view = openPage([job("f", 2)])
            service.answer("POST", "/api/v1/tollan/convert", 200,
                           JSON.stringify({ code: 0, msg: "ok", data: job("f", 2) }), 600)
            const c = card(view, "f")
            c.presenter.retryWaitMs = 50
            findChild(c, "retryButton").clicked()
            compare(findChild(c, "statusBadge").status, "Retrying")
            compare(findChild(c, "statusIcon").name, "xmark.circle")
            compare(findChild(c, "subtitle").text, "Processing retry...")
            verify(findChild(c, "retryButton").busy)
            tryCompare(findChild(c, "statusBadge"), "status", "Failed", 5000)
            compare(findChild(c, "subtitle").text, "2025-01-31 08:15:00")
        }

        // A retry the service refuses is said on the card, which goes back to Failed.
        function test_refusedRetry() {
            const view = openPage([job("f", 2)])
            service.answer("POST", "/api/v1/tollan/convert", 500, "{}")
            const c = card(view, "f")
            findChild(c, "retryButton").clicked()
            tryCompare(c.presenter, "showError", true)
            verify(c.presenter.errorMessage.startsWith("Retry failed: "), c.presenter.errorMessage)
            compare(findChild(c, "statusBadge").status, "Failed")
            verify(!findChild(c, "retryButton").busy)
        }

        function test_typeIconAndPages_data() {
            return [
                { tag: "pdf2img", typ: "pdf2img", pages: 4, icon: "photo.fill", card: "4", sheet: "4" },
                { tag: "upper case falls back", typ: "PDF2IMG", pages: 0, icon: "doc.fill", card: "unknown", sheet: "unknown" },
                { tag: "retried code", typ: "PDF2DOC", pages: -1, icon: "doc.fill", card: "unknown", sheet: "unknown" },
            ]
        }
        function test_typeIconAndPages(data) {
            const view = openPage([job("t", 1, { typ: data.typ, page_number: data.pages })])
            const c = card(view, "t")
            compare(c.typeIcon, data.icon)
            compare(findChild(c, "pagesItem").value, data.card)
            c.open()
            tryCompare(view.sheet, "opened", true)
            compare(findChild(view.sheet.contentItem, "pagesRow").value, data.sheet)
        }

        // The empty text names the search or the chip that emptied the list; chips and search
        // filter without a fetch.
        function test_emptyStatesAndFilters_data() {
            return [
                { tag: "no jobs", jobs: 0, search: "", chip: 0, text: "No conversion tasks yet" },
                { tag: "no match", jobs: 2, search: "zzz", chip: 0, text: "No matching tasks found" },
                { tag: "empty chip", jobs: 2, search: "", chip: 3, text: "No failed tasks" },
                { tag: "empty chip, no jobs", jobs: 0, search: "", chip: 1, text: "No completed tasks" },
                { tag: "chip keeps one", jobs: 2, search: "", chip: 1, shown: 1 },
                { tag: "search keeps one", jobs: 2, search: "B.P", chip: 0, shown: 1 },
            ]
        }
        function test_emptyStatesAndFilters(data) {
            const jobs = [job("a", 1), job("b", 0)].slice(0, data.jobs)
            const view = openPage(jobs)
            view.page.selectFilter(data.chip)
            view.viewModel.searchText = data.search
            if (data.text) {
                compare(view.page.listState, HistoryPage.Empty)
                compare(findChild(view, "emptyText").text, data.text)
            } else {
                compare(view.page.listState, HistoryPage.List)
                compare(view.viewModel.filteredTasks.count, data.shown)
            }
            view.page.selectFilter(0)
            view.viewModel.searchText = ""
            compare(view.viewModel.filteredTasks.count, data.jobs)
            compare(service.requestCount("GET", historyPath), 1)
        }

        // A failed fetch says what failed and offers another try, and a new sign-in for 401.
        function test_failedFetch_data() {
            return [
                { tag: "server error", status: 500, signIn: false },
                { tag: "sign-in refused", status: 401, signIn: true },
            ]
        }
        function test_failedFetch(data) {
            service.reset()
            service.answer("GET", historyPath, data.status, "{}")
            const vm = createTemporaryObject(viewModelComponent, root)
            const view = createTemporaryObject(pageComponent, root, { viewModel: vm, selected: true })
            tryCompare(view.page, "listState", HistoryPage.Failed)
            verify(findChild(view, "failureText").text.indexOf(String(data.status)) >= 0)
            compare(view.page.signInNeeded, data.signIn)
            service.answer("GET", historyPath, 200, history([job("ok", 1)]))
            view.page.retryFetch()
            tryCompare(view.page, "listState", HistoryPage.List)
        }

        // A refresh over a shown list keeps it; the busy indicator turns meanwhile.
        function test_refreshKeepsTheList() {
            const view = openPage([job("a", 0), job("b", 1)])
            const first = card(view, "a")
            service.answer("GET", historyPath, 200, history([job("a", 1), job("b", 1)]), 400)
            view.page.retryFetch()
            verify(view.page.refreshing)
            verify(findChild(view, "refreshIndicator").running)
            compare(view.page.listState, HistoryPage.List)
            tryCompare(view.page, "refreshing", false)
            // The same card, updated in place.
            compare(card(view, "a"), first)
            compare(first.shownStatus, "Completed")
        }

        // Download: the saved file is shown in its folder and a message says where it went,
        // with "Show in folder"; a second download keeps the first file; a failure says why.
        function test_download_data() {
            return [
                { tag: "saved", status: 200 },
                { tag: "refused", status: 500 },
            ]
        }
        function test_download(data) {
            const view = openPage([job("d", 1, { file_name: "report.md", typ: "md2pdf",
                                                 source_file_typ: "markdown", result_file_typ: "pdf" })])
            service.answer("GET", "/api/v2/docx?md5_id=d", data.status, "%PDF-1.4 result", 300)
            const c = card(view, "d")
            findChild(c, "downloadButton").clicked()
            verify(findChild(c, "downloadButton").busy)
            compare(findChild(c, "downloadButton").opacity, 0.7)
            tryCompare(c.presenter, "isDownloading", false)
            const message = findChild(view, "savedMessage")
            if (data.status === 200) {
                tryCompare(service.openedUrls(), "length", 1)
                compare(service.openedUrls()[0], "file://" + service.downloads())
                verify(!c.presenter.showError)
                verify(message.visible)
                const folder = service.downloads().split("/").pop()
                compare(findChild(view, "savedMessageText").text, "Saved “report.pdf” in " + folder)
                findChild(view, "showInFolderButton").clicked()
                tryVerify(() => service.openedUrls().length === 2)
                service.answer("GET", "/api/v2/docx?md5_id=d", 200, "%PDF-1.4 again", 0)
                findChild(c, "downloadButton").clicked()
                tryCompare(findChild(view, "savedMessageText"), "text",
                           "Saved “report (2).pdf” in " + folder)
            } else {
                verify(c.presenter.showError)
                compare(c.presenter.errorMessage,
                        "Download failed: The operation couldn’t be completed. (Download failed error 500.)")
                compare(service.openedUrls().length, 0)
                verify(!message.visible)
            }
        }

        // The refresh button, F5 and Ctrl+R reload the list; Ctrl+F goes to the search field.
        // Cards line up with the search row and the chips.
        function test_refreshAndFind() {
            const view = openPage([job("a", 1)])
            // Shortcuts answer in the active window; other tests' windows may have taken it.
            view.Window.window.requestActivate()
            tryVerify(() => view.Window.window.active)
            const c = card(view, "a")
            const search = findChild(view, "searchField").parent.parent
            compare(c.mapToItem(view, 0, 0).x, search.mapToItem(view, 0, 0).x)
            compare(c.width, search.width)
            let expected = 1
            for (const press of [() => findChild(view, "refreshButton").clicked(),
                                 () => keyClick(Qt.Key_F5),
                                 () => keyClick(Qt.Key_R, Qt.ControlModifier)]) {
                tryVerify(() => !view.page.refreshing && findChild(view, "refreshButton").enabled)
                press()
                ++expected
                tryVerify(() => service.requestCount("GET", historyPath) === expected, 5000,
                          "press " + (expected - 1))
            }
            verify(!findChild(view, "searchField").activeFocus)
            keySequence(StandardKey.Find)
            verify(findChild(view, "searchField").activeFocus)
        }

        // A search keeping every other job gives the cards on screen other jobs: none shows
        // the failed download of the job it showed before.
        function test_searchGivesCardsOtherJobs() {
            const jobs = []
            for (let i = 0; i < 80; ++i)
                jobs.push(job("j" + i, 1, { file_name: (i % 2 ? "odd " : "even ") + i + ".pdf" }))
            const view = openPage(jobs)
            service.answer("GET", "/api/v2/docx?md5_id=j0", 500, "", 0)
            const failed = card(view, "j0")
            findChild(failed, "downloadButton").clicked()
            tryVerify(() => failed.presenter.showError)
            view.viewModel.searchText = "odd"
            compare(view.viewModel.filteredTasks.count, 40)
            verify(cards(view).every(c => !c.presenter.showError && c.presenter.id !== "j0"))
            verify(!card(view, "j1").presenter.showError)
        }
    }

    TestCase {
        name: "HistoryAutoRefresh"
        when: windowShown

        // The loop runs only while page 1 is shown: arriving refreshes once and then starts
        // it, leaving stops it, and a refresh that ends after a leave starts nothing.
        function test_loopFollowsThePage_data() {
            return [
                { tag: "1, 0, 1: stopped, restarted", steps: [1, 0, "stopped", 1], fetches: 2, running: true },
                { tag: "0 and 2: untouched", steps: [2, 0, 2], fetches: 0, running: false },
                { tag: "left before the first refresh ended", delay: 400, steps: [1, 0], fetches: 1, running: false },
                { tag: "minimised, then restored", steps: [1, "minimise", "stopped", "restore"], fetches: 1, running: true },
                { tag: "hidden", steps: [1, "hide"], fetches: 1, running: false },
            ]
        }
        function test_loopFollowsThePage(data) {
            service.reset()
            service.answer("GET", historyPath, 200, history([]), data.delay || 0)
            const win = createTemporaryObject(windowComponent, null)
            win.show()
            tryVerify(() => win.visible)
            const page = () => findChild(win.contentItem, "historyPage")
            for (const step of data.steps) {
                if (typeof step === "number") {
                    win.selectedTab = step
                    if (step === 1 && !data.delay)
                        tryVerify(() => page().page.autoRefreshRunning)
                } else if (step === "stopped") {
                    tryVerify(() => !page().page.autoRefreshRunning)
                } else if (step === "minimise") {
                    win.showMinimized()
                } else if (step === "restore") {
                    win.showNormal()
                } else if (step === "hide") {
                    win.hide()
                }
            }
            tryVerify(() => !win.viewModel.isLoadingHistory)
            wait(50)
            compare(service.requestCount("GET", historyPath), data.fetches)
            compare(page() ? page().page.autoRefreshRunning : false, data.running)
        }
    }
}
