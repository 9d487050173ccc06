import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// The chat's top bar: back, the title and the name of the file being talked about.
Control {
    id: root

    property Theme theme
    property string selectedPDFName
    signal back()

    padding: 12
    leftPadding: 16
    rightPadding: 16

    contentItem: RowLayout {
        spacing: 12
        PlainButton {
            theme: root.theme
            iconName: "chevron.left"
            text: "返回"
            onClicked: root.back()
        }
        Label {
            text: "AI助手"
            color: root.theme ? root.theme.blue : "blue"
            font.pixelSize: root.theme ? root.theme.headlineSize : 15
            font.bold: true
            Accessible.role: Accessible.Heading
        }
        Label {
            objectName: "chatFileName"
            visible: root.selectedPDFName !== ""
            text: root.selectedPDFName
            color: root.theme ? root.theme.blue : "blue"
            font.pixelSize: root.theme ? root.theme.captionSize : 11
            elide: Text.ElideMiddle
            maximumLineCount: 1
            leftPadding: 8
            rightPadding: 8
            topPadding: 4
            bottomPadding: 4
            background: Rectangle {
                radius: 6
                color: root.theme ? Qt.rgba(root.theme.blue.r, root.theme.blue.g, root.theme.blue.b, 0.1)
                                  : "transparent"
            }
            Layout.maximumWidth: 320
        }
        Item { Layout.fillWidth: true }
    }

    background: Item {
        VisualEffectView {
            anchors.fill: parent
            theme: root.theme
            opacity: root.theme ? root.theme.cardBlurOpacity : 0.5
        }
        Rectangle {
            anchors.fill: parent
            color: root.theme ? root.theme.cardBackground : "transparent"
            opacity: 0.5
        }
    }
}
