import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import Quorvel.Ui

// The empty conversation: a greeting and three questions to start with.
Control {
    id: root

    property var suggestions: []
    signal sendSuggestion(string text)

    padding: 32

    contentItem: ColumnLayout {
        spacing: 24
        Icon {
            name: "bubble.left.and.bubble.right.fill"
            size: 48
            color: Theme.blue
            opacity: 0.6
            Layout.alignment: Qt.AlignHCenter
        }
        Label {
            text: "你好！我是AI助手，可以回答有关PDF文档的问题。"
            color: Theme.blue
            font.pixelSize: Theme.headlineSize
            font.bold: true
            wrapMode: Text.Wrap
            horizontalAlignment: Text.AlignHCenter
            Layout.fillWidth: true
        }
        ColumnLayout {
            spacing: 16
            Layout.fillWidth: true
            Label {
                text: "你可以尝试以下问题："
                color: Theme.secondaryText
                font.pixelSize: Theme.subheadlineSize
            }
            Repeater {
                model: root.suggestions
                PlainButton {
                    required property string modelData
                    text: modelData
                    fontSize: Theme.subheadlineSize
                    leftPadding: 12
                    rightPadding: 12
                    topPadding: 8
                    bottomPadding: 8
                    Layout.maximumWidth: root.availableWidth
                    onClicked: root.sendSuggestion(modelData)
                    background: Rectangle {
                        radius: 8
                        color: Qt.rgba(Theme.blue.r, Theme.blue.g, Theme.blue.b,
                                                      parent.pressed ? 0.2 : parent.hovered ? 0.15 : 0.1)
                        border.width: parent.visualFocus ? 2 : 0
                        border.color: Theme.blue
                    }
                }
            }
        }
    }

    background: Item {
        SoftShadow {
            anchors.fill: parent
            radius: 12
            blur: 6
            offsetY: 2
        }
        Rectangle {
            anchors.fill: parent
            radius: 12
            color: Theme.cardBackground
            border.width: 0.5
            border.color: Qt.rgba(1, 1, 1, Theme.isDark ? 0.2 : 0.3)
        }
    }
}
