import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// The chat's top bar: back, the title and the name of the file being talked about.
Control {
    id: root

    property string selectedPDFName
    signal back()

    padding: 12
    leftPadding: 16
    rightPadding: 16

    contentItem: RowLayout {
        spacing: 12
        PlainButton {
            iconName: "chevron.left"
            text: "返回"
            onClicked: root.back()
        }
        Label {
            text: "AI助手"
            color: Theme.blue
            font.pixelSize: Theme.headlineSize
            font.bold: true
            Accessible.role: Accessible.Heading
        }
        Label {
            objectName: "chatFileName"
            visible: root.selectedPDFName !== ""
            text: root.selectedPDFName
            color: Theme.blue
            font.pixelSize: Theme.captionSize
            elide: Text.ElideMiddle
            maximumLineCount: 1
            leftPadding: 8
            rightPadding: 8
            topPadding: 4
            bottomPadding: 4
            background: Rectangle {
                radius: 6
                color: Qt.rgba(Theme.blue.r, Theme.blue.g, Theme.blue.b, 0.1)
            }
            Layout.maximumWidth: 320
        }
        Item { Layout.fillWidth: true }
    }

    background: Item {
        VisualEffectView {
            anchors.fill: parent
            opacity: Theme.cardBlurOpacity
        }
        Rectangle {
            anchors.fill: parent
            color: Theme.cardBackground
            opacity: 0.5
        }
    }
}
