import QtQuick
import QtTest
import Quorvel.Ui
import Quorvel.App

Item {
    id: root

    Component { id: windowComponent; ContentView {} }

    TestCase {
        name: "ContentView"
        when: windowShown

        function openWindow() {
            const win = createTemporaryObject(windowComponent, null)
            win.show()
            tryVerify(() => win.visible)
            return win
        }
        function item(win, name) {
            return findChild(win.contentItem, name)
        }
        // Signed in to an account with that e-mail and 8 of 9 pages left.
        function signInAs(email) {
            service.signIn()
            service.answer("GET", "/api/v1/tollan/auth/me", 200,
                           JSON.stringify({ code: 0, msg: "ok", data: {
                               email: email, is_lifetimedeal_member: false,
                               lifetime_member_description: "", page_balcance_description: "Pages",
                               lft_daily_usage: 0, lft_daily_total: 0 } }))
            service.answer("GET", "/api/v1/tollan/convertapi/page_balance", 200, '{"code":0,"msg":"ok","data":{"total_pages":9,"consumed_pages":1}}')
        }
        // Parts made on first use are not there before.
        function shown(win, name) {
            const found = item(win, name)
            return found !== null && found.visible
        }

        function test_warmReminderExactlyInErrorState() {
            service.reset()
            const win = openWindow()
            verify(!shown(win, "warmReminder"))
            win.conversionPage.addPickedFiles([service.file("notes.txt")])
            win.conversionPage.selectTool("PDF to DOC")
            verify(item(win, "selectedFiles").visible)
            tryVerify(() => item(win, "warmReminder") !== null)
            const reminder = item(win, "warmReminder")
            // It grows and fades in also the first time, when it is made for the error.
            verify(reminder.opacity < 1)
            tryCompare(reminder, "opacity", 1)
            verify(win.viewModel.processingState.isError)
            compare(item(win, "warmReminderText").text, win.viewModel.processingState.message)
            item(win, "reselectButton").clicked()
            tryCompare(reminder, "visible", false)
            compare(win.conversionPage.selectedRows.length, 0)
            compare(item(win, "selectedFiles").visible, false)
        }

        function test_noReminderWhileUploading() {
            service.reset()
            service.answer("POST", "/api/v2/uploadfilepdf", 200, "{}", 3000)
            const win = openWindow()
            win.conversionPage.addPickedFiles([service.file("report.pdf")])
            win.conversionPage.selectTool("PDF to DOC")
            tryCompare(win.conversionPage, "isProcessing", true)
            compare(item(win, "uploadButton").text, "Upload Files")
            verify(item(win, "uploadProgress").visible)
            verify(!shown(win, "warmReminder"))
        }

        function test_signingOutRemovesThePanel() {
            service.reset()
            signInAs("ann@example.com")
            const win = openWindow()
            tryVerify(() => item(win, "balancePanel").visible && item(win, "logoutButton").visible)
            tryCompare(item(win, "balancePanel").item.panel, "face", 2) // pages, not loading
            compare(item(win, "loginButton").visible, false)
            item(win, "logoutButton").clicked()
            tryCompare(item(win, "balancePanel"), "visible", false)
            verify(item(win, "loginButton").visible)
            compare(item(win, "logoutButton").visible, false)

            // Signing in again brings a panel for the account back.
            service.answer("POST", "/api/v1/tollan/auth/login", 200, '{"code":0,"msg":"ok","data":{"token":"tok_abcdef0123456789"}}')
            win.openLoginSheet()
            const sheet = win.loginSheet
            tryVerify(() => sheet.opened && sheet.contentItem.item !== null)
            sheet.contentItem.item.form.email = "ann@example.com"
            sheet.contentItem.item.form.password = "pw"
            sheet.contentItem.item.form.submit()
            tryVerify(() => item(win, "balancePanel").visible && item(win, "logoutButton").visible)
            const panel = item(win, "balancePanel").item
            compare(panel.authManager, win.authManager)
            tryCompare(panel.panel, "face", 2) // the account's figures again, not loading
        }

        // The account's e-mail is shown whole from the smallest window on.
        function test_headerShowsTheWholeEmail_data() {
            return [
                { tag: "19 characters at 800 px", width: 800, email: "ann.lee@example.com" },
                { tag: "19 characters at 1100 px", width: 1100, email: "ann.lee@example.com" },
                { tag: "24 characters at 1100 px", width: 1100, email: "ann.lee.wong@example.com" }
            ]
        }
        function test_headerShowsTheWholeEmail(data) {
            service.reset()
            signInAs(data.email)
            const win = openWindow()
            win.width = data.width
            const email = findChild(win.header, "accountEmail")
            tryCompare(email, "text", data.email)
            tryVerify(() => email.visible && email.width > 0)
            verify(!email.truncated, "e-mail elided in " + email.width + " px")
        }

        // The history refused with 401 offers a new sign-in: the window makes the sheet then,
        // though nothing opened it before.
        function test_historyOffersTheLoginSheet() {
            service.reset()
            service.answer("GET", "/api/v1/tollan/convert/all", 401, "{}")
            const win = openWindow()
            win.selectedTab = 1
            const button = () => item(win, "signInAgainButton")
            tryVerify(() => button() && button().visible)
            button().clicked()
            tryVerify(() => win.loginSheet && win.loginSheet.visible)
        }

        // The picker and the share menu are made when first used, and then work.
        // Files dropped anywhere on page 0 are added when some tool takes them, whichever
        // tool was pressed last; the others are named with the reason.
        function test_dropAnywhere_data() {
            return [
                { tag: "pdf after a DOCX tool", tool: "DOCX to PDF", files: ["a.pdf"], added: 1, refusal: "" },
                { tag: "unknown type", tool: "", files: ["b.xyz"], added: 0,
                  refusal: "“b.xyz” was not added: no tool here takes XYZ files." },
                { tag: "mixed", tool: "PDF to DOC", files: ["a.pdf", "b.xyz", "c.zip"], added: 1,
                  refusal: "2 files were not added: no tool here takes their types (b.xyz, c.zip)." },
            ]
        }
        function test_dropAnywhere(data) {
            service.reset()
            const win = openWindow()
            const page = item(win, "conversionPage")
            const area = item(win, "pageDropArea")
            compare(area.width, page.width)
            compare(area.height, page.height)
            win.conversionPage.selectedOperation = data.tool
            const accepted = win.conversionPage.drop(data.files.map(name => service.file(name)))
            compare(accepted, data.added > 0)
            compare(win.conversionPage.selectedRows.length, data.added)
            const refusal = item(win, "dropRefusal")
            compare(refusal.text, data.refusal)
            compare(refusal.visible, data.refusal !== "")
            win.conversionPage.addPickedFiles([service.file("c.pdf")])
            compare(refusal.visible, false)
        }

        // After a tool press at the default size, the progress and then the warm reminder
        // are scrolled into view and take the focus.
        function test_feedbackInView() {
            service.reset()
            signInAs("ann@example.com")
            service.answer("POST", "/api/v2/uploadfilepdf", 200, "{}", 4000)
            const win = openWindow()
            const page = item(win, "conversionPage")
            tryVerify(() => item(win, "balancePanel").visible)
            const inView = target => {
                const y = target.mapToItem(page, 0, 0).y
                return target.visible && y >= 0 && y + target.height <= page.height
            }
            win.conversionPage.addPickedFiles([service.file("a.pdf"), service.file("b.pdf")])
            win.conversionPage.selectTool("PDF to DOC")
            const progress = item(win, "uploadProgress")
            tryVerify(() => inView(progress) && progress.activeFocus)
            verify(page.contentY > 0)

            win.conversionPage.reselect()
            page.contentY = 0
            win.conversionPage.addPickedFiles([service.file("notes.txt"), service.file("b.txt")])
            win.conversionPage.selectTool("PDF to DOC")
            tryVerify(() => shown(win, "warmReminder") && inView(item(win, "warmReminder"))
                      && item(win, "reselectButton").activeFocus)
            verify(page.contentY > 0)
        }

        // A completed job of the run is listed under "Processed Files" with Download; once
        // saved in the download folder, with Preview and Show in folder.
        function test_processedFiles() {
            service.reset()
            const job = status => JSON.stringify({ code: 0, msg: "ok", data: {
                id: "p1", typ: "PDF2DOC", file_name: "a.pdf", status: status, result_file_typ: "docx" } })
            service.answer("POST", "/api/v2/uploadfilepdf", 200, JSON.stringify({ code: 0, msg: "ok", data: {
                file_name: "a.pdf", source_file_path: "store/a.pdf", source_file_typ: "pdf",
                source_file_md5: "0123456789abcdef", page_number: 2, status: 1 } }))
            service.answer("POST", "/api/v1/tollan/convert", 200, job(0))
            service.answer("GET", "/api/v1/tollan/convert/p1", 200, job(1))
            service.answer("GET", "/api/v1/tollan/convert/all", 200,
                           JSON.stringify({ code: 0, msg: "ok", data: { converts: [] } }))
            service.answer("GET", "/api/v2/docx?md5_id=p1", 200, "PK result")
            const win = openWindow()
            win.conversionPage.addPickedFiles([service.file("a.pdf")])
            win.conversionPage.selectTool("PDF to DOC")
            tryVerify(() => win.conversionPage.processedRows.length === 1, 20000)
            const card = item(win, "processedFiles")
            tryVerify(() => card.visible)
            compare(win.conversionPage.processedRows[0].name, "a.docx")
            const download = findChild(card, "downloadProcessed")
            verify(download.visible)
            verify(!findChild(card, "showProcessedInFolder").visible)
            download.clicked()
            tryVerify(() => findChild(card, "showProcessedInFolder").visible)
            verify(findChild(card, "previewProcessed").visible)
            verify(!findChild(card, "downloadProcessed").visible)
            compare(win.viewModel.processedFiles.length, 1)
            compare(String(win.viewModel.processedFiles[0]), "file://" + service.downloads() + "/a.docx")
            findChild(card, "showProcessedInFolder").clicked()
            tryVerify(() => service.openedUrls().length === 1)
            win.conversionPage.reselect()
            compare(win.conversionPage.processedRows.length, 0)
        }

        function test_pickerAndShareMenuOnDemand() {
            service.reset()
            const win = openWindow()
            compare(win.filePicker, null)
            keySequence(StandardKey.Open)
            tryVerify(() => win.filePicker && win.filePicker.visible)
            verify(win.filePicker.nameFilters.length > 0)
            win.filePicker.close()
            const page = item(win, "conversionPage")
            page.share(service.file("a.pdf"), page)
            tryVerify(() => page.shareMenu.visible)
        }
    }
}
