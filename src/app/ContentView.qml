import QtQuick
import QtQuick.Templates as T
import QtQuick.Layouts
import Quorvel.App
import Quorvel.Ui
import Quorvel.Service.Views

// The main window: header with the tab switch and the account area, then the page of the
// selected tab. It owns the view model and the account object for the window's life.
T.ApplicationWindow {
    id: window

    property alias viewModel: viewModel
    property alias authManager: authManager
    property alias conversionPage: conversionPage
    // The login sheet and the file picker are made when first opened, so start-up does not
    // build the form or load the dialogs module.
    property var loginSheet: null
    property var filePicker: null
    property int selectedTab: 0
    // Tighter gaps in the header of a narrow window, so the account's e-mail keeps its room.
    readonly property bool compactHeader: width < 1000
    // The PDF reader, made on first use so that start-up does not load Qt PDF.
    property var pdfReader: null

    function make(url, properties) {
        const component = Qt.createComponent(url)
        if (component.status !== Component.Ready) {
            console.warn(component.errorString())
            return null
        }
        return component.createObject(window.contentItem, properties)
    }
    function openLoginSheet() {
        if (!loginSheet)
            loginSheet = make("qrc:/qt/qml/Quorvel/Service/Views/LoginView.qml",
                              { authManager: authManager })
        loginSheet.open()
    }
    function openFilePicker() {
        if (!filePicker)
            filePicker = make("qrc:/qt/qml/Quorvel/App/FilePicker.qml", { page: conversionPage })
        filePicker.open()
    }

    function openPdf(fileUrl) {
        if (!pdfReader) {
            const component = Qt.createComponent("qrc:/qt/qml/Quorvel/Ui/PDFReaderWindow.qml")
            if (component.status !== Component.Ready) {
                console.warn(component.errorString())
                return null
            }
            pdfReader = component.createObject(window, {})
        }
        pdfReader.open(fileUrl)
        return pdfReader
    }
    onSelectedTabChanged: {
        if (selectedTab === 1 && historyLoader.status === Loader.Null)
            historyLoader.setSource("qrc:/qt/qml/Quorvel/History/Views/HistoryPageView.qml",
                                    { viewModel: viewModel })
        else if (selectedTab === 2 && assistantLoader.status === Loader.Null)
            assistantLoader.setSource("qrc:/qt/qml/Quorvel/Assistant/AgentView.qml",
                                      { authManager: authManager })
    }

    title: "Quorvel"
    width: 1100
    height: 780
    minimumWidth: 800
    minimumHeight: 600
    color: Theme.windowBase

    PDFViewModel {
        id: viewModel
        authManager: authManager
    }
    AuthManager { id: authManager }
    ConversionPage {
        id: conversionPage
        viewModel: viewModel
    }
    JobNotifier {
        viewModel: viewModel
        window: window
    }

    background: BackgroundLayerView { overWindowBase: true }

    Shortcut { sequence: StandardKey.Open; onActivated: window.openFilePicker() }
    Shortcut { sequence: "Ctrl+1"; onActivated: window.selectedTab = 0 }
    Shortcut { sequence: "Ctrl+2"; onActivated: window.selectedTab = 1 }
    Shortcut { sequence: "Ctrl+3"; onActivated: window.selectedTab = 2 }
    Shortcut { sequence: StandardKey.Quit; onActivated: Qt.quit() }

    header: Rectangle {
        implicitHeight: headerRow.implicitHeight + 24
        color: Qt.rgba(Theme.cardBackground.r, Theme.cardBackground.g, Theme.cardBackground.b,
                       Theme.cardBackground.a * 0.5)
        RowLayout {
            id: headerRow
            anchors.fill: parent
            anchors.leftMargin: 20
            anchors.rightMargin: 20
            spacing: window.compactHeader ? 8 : 16

            RowLayout {
                spacing: 8
                Icon { name: "doc.viewfinder"; size: 28; color: Theme.blue }
                T.Label {
                    text: "Quorvel AI"
                    color: Theme.blue
                    font.pixelSize: Theme.titleSize
                    font.bold: true
                    Accessible.role: Accessible.Heading
                }
            }

            RowLayout {
                spacing: 8
                Layout.leftMargin: window.compactHeader ? 0 : 8
                Repeater {
                    model: [
                        { title: qsTr("Convert"), icon: "arrow.triangle.2.circlepath" },
                        { title: qsTr("History"), icon: "clock.fill" },
                        { title: qsTr("Assistant"), icon: "brain.head.profile" }
                    ]
                    HeaderTab {
                        required property var modelData
                        required property int index
                        text: modelData.title
                        iconName: modelData.icon
                        help: modelData.title + " (Ctrl+" + (index + 1) + ")"
                        selected: window.selectedTab === index
                        leftPadding: window.compactHeader ? 10 : 16
                        rightPadding: leftPadding
                        onClicked: window.selectedTab = index
                    }
                }
            }

            // The e-mail takes the free space and gives way first when the window is narrow.
            T.Label {
                objectName: "accountEmail"
                visible: authManager.isLoggedIn
                text: authManager.currentUser ? authManager.currentUser.email : ""
                color: Theme.secondaryText
                font.pixelSize: Theme.subheadlineSize
                elide: Text.ElideMiddle
                horizontalAlignment: Text.AlignRight
                Layout.fillWidth: true
                Layout.minimumWidth: 0
            }
            Item {
                visible: !authManager.isLoggedIn
                Layout.fillWidth: true
            }
            RowLayout {
                spacing: 12
                visible: authManager.isLoggedIn
                PlainButton {
                    objectName: "logoutButton"
                    text: qsTr("Logout")
                    onClicked: authManager.logout()
                }
            }
            Spinner {
                objectName: "tokenSpinner"
                running: authManager.isReadingToken
                color: Theme.secondaryText
            }
            PlainButton {
                objectName: "loginButton"
                visible: !authManager.isLoggedIn && !authManager.isReadingToken
                text: qsTr("Login")
                onClicked: window.openLoginSheet()
            }
        }
    }

    StackLayout {
        anchors.fill: parent
        currentIndex: window.selectedTab

        ConversionPageView {
            page: conversionPage
            authManager: authManager
            onPickFiles: window.openFilePicker()
            onPreviewPdf: file => window.openPdf(file)
        }
        // The history and the assistant pages, each built the first time its tab is chosen,
        // then kept. They are named by address, not by type, so that loading this window does
        // not compile them either (about a third of the start-up when they were types here).
        Loader {
            id: historyLoader
            objectName: "historyLoader"
            // Shown before selected: becoming selected is the arrival that fetches the list.
            onLoaded: {
                item.windowShown = Qt.binding(() => window.visible
                                                     && window.visibility !== Window.Minimized)
                item.selected = Qt.binding(() => window.selectedTab === 1)
                item.previewRequested.connect(file => window.openPdf(file))
                item.signInRequested.connect(window.openLoginSheet)
            }
        }
        Loader {
            id: assistantLoader
            objectName: "assistantLoader"
            onLoaded: item.previewRequested.connect(file => window.openPdf(file))
        }
    }
}
