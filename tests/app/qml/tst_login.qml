import QtQuick
import QtTest
import Quorvel.Ui
import Quorvel.Service.Views

Item {
    id: root
    width: 800
    height: 600

    Component { id: managerComponent; AuthManager {} }
    Component { id: sheetComponent; LoginView {} }

    TestCase {
        name: "LoginView"
        when: windowShown

        function openSheet() {
            service.reset()
            const sheet = createTemporaryObject(sheetComponent, root,
                                                { authManager: createTemporaryObject(managerComponent, root) })
            sheet.open()
            tryVerify(() => sheet.opened && sheet.form !== null)
            return sheet
        }
        function child(sheet, name) {
            return findChild(sheet.contentItem.item, name)
        }
        function typeInto(field, text) {
            field.forceActiveFocus()
            for (const c of text)
                keyClick(c)
        }

        function test_buttonEnabledRule_data() {
            return [
                { tag: "password empty", email: "a@b.c", password: "", enabled: false },
                { tag: "email empty", email: "", password: "x", enabled: false },
                { tag: "one character each", email: "a", password: "x", enabled: true },
                { tag: "spaces count", email: " ", password: " ", enabled: true }
            ]
        }
        function test_buttonEnabledRule(data) {
            const sheet = openSheet()
            typeInto(child(sheet, "emailField"), data.email)
            typeInto(child(sheet, "passwordField"), data.password)
            compare(child(sheet, "loginButton").enabled, data.enabled)
        }

        function test_messageByCode_data() {
            return [
                { tag: "401", status: 401, origin: "", message: "Invalid email or password", oneLine: true },
                { tag: "500", status: 500, origin: "",
                  message: "Login failed: The operation couldn’t be completed. (Login failed error 500.)" },
                // A refused origin is the client's own -1 error, before any request.
                { tag: "-1", status: 0, origin: "http://example.org:1", message: "Network error. Please try again.",
                  oneLine: true }
            ]
        }
        function test_messageByCode(data) {
            const sheet = openSheet()
            if (data.origin !== "")
                service.useOrigin(data.origin)
            else
                service.answer("POST", "/api/v1/tollan/auth/login", data.status, '{"code":1,"msg":"no"}')
            typeInto(child(sheet, "emailField"), "ann@example.com")
            typeInto(child(sheet, "passwordField"), "pw")
            const y = sheet.y, height = sheet.height
            child(sheet, "loginButton").clicked()
            tryCompare(child(sheet, "loginError"), "visible", true)
            compare(child(sheet, "loginError").text, data.message)
            // A failed attempt keeps the sheet and what was typed; a one-line message takes the
            // room kept for it, so the sheet neither moves nor grows.
            verify(sheet.opened)
            if (data.oneLine) {
                compare(sheet.y, y)
                compare(sheet.height, height)
            }
            compare(child(sheet, "emailField").text, "ann@example.com")
            compare(child(sheet, "passwordField").text, "pw")
            verify(child(sheet, "loginButton").enabled)
        }

        // A click beside the sheet neither closes nor moves it, nor loses what was typed.
        function test_clickBesideKeepsTheSheet() {
            const sheet = openSheet()
            typeInto(child(sheet, "emailField"), "ann@example.com")
            typeInto(child(sheet, "passwordField"), "pw")
            const y = sheet.y, height = sheet.height
            mouseClick(root, 5, 5) // delivered at once: a close would show now
            verify(sheet.opened)
            compare(sheet.y, y)
            compare(sheet.height, height)
            compare(child(sheet, "emailField").text, "ann@example.com")
            compare(child(sheet, "passwordField").text, "pw")
        }

        function test_successClosesTheSheet() {
            const sheet = openSheet()
            service.answer("POST", "/api/v1/tollan/auth/login", 200, '{"code":0,"msg":"ok","data":{"token":"tok_abcdef0123456789"}}')
            service.answer("GET", "/api/v1/tollan/auth/me", 200, '{"code":0,"msg":"ok","data":{"email":"ann@example.com"}}')
            typeInto(child(sheet, "emailField"), "ann@example.com")
            typeInto(child(sheet, "passwordField"), "pw")
            keyClick(Qt.Key_Return)
            tryCompare(sheet, "visible", false)
            verify(sheet.authManager.isLoggedIn)
        }

        function test_eyeButtonKeepsThePassword() {
            const sheet = openSheet()
            const field = child(sheet, "passwordField")
            typeInto(field, "s3cret")
            compare(field.echoMode, TextInput.Password)
            child(sheet, "eyeButton").clicked()
            compare(field.echoMode, TextInput.Normal)
            compare(field.text, "s3cret")
            compare(sheet.form.eyeIcon, "eye.slash.fill")
        }
    }
}
