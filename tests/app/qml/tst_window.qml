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

        function test_warmReminderExactlyInErrorState() {
            service.reset()
            const win = openWindow()
            const reminder = item(win, "warmReminder")
            compare(reminder.visible, false)
            win.conversionPage.addPickedFiles([service.file("notes.txt")])
            win.conversionPage.selectTool("PDF to DOC")
            verify(item(win, "selectedFiles").visible)
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
            compare(item(win, "warmReminder").visible, false)
        }

        function test_signingOutRemovesThePanel() {
            service.reset()
            service.signIn()
            service.answer("GET", "/api/v1/tollan/auth/me", 200, '{"code":0,"msg":"ok","data":{"email":"ann@example.com"}}')
            service.answer("GET", "/api/v1/tollan/convertapi/page_balance", 200, '{"code":0,"msg":"ok","data":{"total_pages":9,"consumed_pages":1}}')
            const win = openWindow()
            tryVerify(() => item(win, "balancePanel").visible && item(win, "logoutButton").visible)
            compare(item(win, "loginButton").visible, false)
            item(win, "logoutButton").clicked()
            tryCompare(item(win, "balancePanel"), "visible", false)
            verify(item(win, "loginButton").visible)
            compare(item(win, "logoutButton").visible, false)
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
            service.signIn()
            service.answer("GET", "/api/v1/tollan/auth/me", 200,
                           JSON.stringify({ code: 0, msg: "ok", data: {
                               email: data.email, is_lifetimedeal_member: false,
                               lifetime_member_description: "", page_balcance_description: "",
                               lft_daily_usage: 0, lft_daily_total: 0 } }))
            service.answer("GET", "/api/v1/tollan/convertapi/page_balance", 200, '{"code":0,"msg":"ok","data":{"total_pages":9,"consumed_pages":1}}')
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
