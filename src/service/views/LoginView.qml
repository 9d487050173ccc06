import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui
import Quorvel.Service.Views

// The sign-in sheet: e-mail, password with its eye button, the message of a failed attempt
// and the login button. It closes itself when the sign-in succeeds.
Popup {
    id: sheet

    property AuthManager authManager
    // The form of the open sheet (a fresh one each time the sheet opens).
    readonly property LoginForm form: content.item ? content.item.form : null

    modal: true
    focus: true
    anchors.centerIn: Overlay.overlay
    padding: 24
    // A stray click beside the sheet keeps it and what was typed; Escape still closes it.
    closePolicy: Popup.CloseOnEscape

    // A text field in the scheme's colours (the style's own is white in a dark scheme too).
    component Field: TextField {
        id: field
        color: Theme.primaryText
        placeholderTextColor: Theme.secondaryText
        selectedTextColor: "white"
        selectionColor: Theme.accentFill
        font.pixelSize: Theme.bodySize
        selectByMouse: true
        background: Rectangle {
            implicitWidth: 200
            implicitHeight: 40
            radius: 8
            color: Theme.cardBackground
            border.width: field.activeFocus ? 2 : 1
            border.color: field.activeFocus ? Theme.blue : Theme.cardBorder
        }
    }

    background: Rectangle {
        radius: 14
        color: Theme.windowBase
        border.width: 0.5
        border.color: Qt.rgba(0, 0, 0, 0.15)
    }

    contentItem: Loader {
        id: content
        active: sheet.visible
        focus: true
        sourceComponent: ColumnLayout {
            id: column
            property alias form: loginForm
            width: 300
            spacing: 20

            LoginForm {
                id: loginForm
                authManager: sheet.authManager
                onSucceeded: sheet.close()
            }

            Label {
                text: qsTr("Login")
                font.pixelSize: Theme.titleSize
                font.bold: true
                color: Theme.primaryText
                Layout.alignment: Qt.AlignHCenter
                Accessible.role: Accessible.Heading
            }

            Field {
                id: emailField
                objectName: "emailField"
                placeholderText: qsTr("Email")
                text: loginForm.email
                onTextEdited: loginForm.email = text
                inputMethodHints: Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText | Qt.ImhEmailCharactersOnly
                focus: true
                Layout.fillWidth: true
                Accessible.name: qsTr("Email")
                onAccepted: loginForm.submit()
                Component.onCompleted: forceActiveFocus()
            }

            RowLayout {
                spacing: 8
                Layout.fillWidth: true
                Field {
                    id: passwordField
                    objectName: "passwordField"
                    placeholderText: qsTr("Password")
                    text: loginForm.password
                    onTextEdited: loginForm.password = text
                    echoMode: loginForm.showPassword ? TextInput.Normal : TextInput.Password
                    inputMethodHints: Qt.ImhNoAutoUppercase | Qt.ImhNoPredictiveText | Qt.ImhSensitiveData
                    Layout.fillWidth: true
                    Accessible.name: qsTr("Password")
                    // Qt 6.4 hides Accessible.name while the text is masked; the window's
                    // accessibility factory answers with this name instead.
                    property string maskedAccessibleName: qsTr("Password")
                    onAccepted: loginForm.submit()
                }
                PlainButton {
                    objectName: "eyeButton"
                    iconName: loginForm.eyeIcon
                    iconColor: Theme.gray
                    help: loginForm.showPassword ? qsTr("Hide password") : qsTr("Show password")
                    onClicked: loginForm.toggleShowPassword()
                }
            }

            // The error line keeps its room while there is none, so the sheet stays put when
            // a message appears.
            Item {
                implicitHeight: Math.max(errorLine.implicitHeight, errorMetrics.height)
                Layout.fillWidth: true
                FontMetrics {
                    id: errorMetrics
                    font.pixelSize: Theme.captionSize
                }
                Label {
                    id: errorLine
                    objectName: "loginError"
                    width: parent.width
                    visible: loginForm.hasError
                    text: loginForm.errorMessage
                    color: Theme.red
                    font.pixelSize: Theme.captionSize
                    wrapMode: Text.Wrap
                    Accessible.role: Accessible.AlertMessage
                    Accessible.name: text
                }
            }

            ProminentButton {
                objectName: "loginButton"
                text: loginForm.isLoading ? "" : qsTr("Login")
                busy: loginForm.isLoading
                Accessible.name: qsTr("Login")
                enabled: loginForm.canSubmit
                Layout.fillWidth: true
                onClicked: loginForm.submit()
            }
        }
    }
}
