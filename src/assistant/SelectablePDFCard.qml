import QtQuick
import QtQuick.Controls
import QtQuick.Layouts
import QtQuick.Shapes
import Quorvel.Ui

// One converted PDF: a page-shaped thumbnail in the file's colours with its type icon, the
// name, the status and a preview button. Pressing the card selects it. A check box to a
// screen reader, checked while selected: Qt 6.4 takes a control's role from its type
// whatever Accessible.role says, hence a CheckBox without its indicator.
CheckBox {
    id: card

    property string fileName
    property int status: 1
    property string typeIcon: "doc.fill"
    property color firstColor: "steelblue"
    property color secondColor: "teal"
    property bool isSelected: false
    signal select()
    signal preview()

    readonly property bool completed: status === 1
    readonly property color statusColor: completed ? Theme.green : Theme.orange

    padding: 12
    spacing: 8
    text: fileName
    // A click toggles `checked` and asks for the selection, which binds it back.
    checked: isSelected
    indicator: null
    focusPolicy: Qt.StrongFocus
    hoverEnabled: true
    Accessible.name: fileName
    // Qt Quick Controls ignore the accessibility actions on their own.
    Accessible.onPressAction: if (card.enabled) card.select()
    Accessible.onToggleAction: if (card.enabled) card.select()
    Keys.onReturnPressed: if (card.enabled) card.select()
    Keys.onEnterPressed: if (card.enabled) card.select()
    onClicked: card.select()

    contentItem: ColumnLayout {
        spacing: 8

        Item {
            id: thumbnail
            implicitHeight: 110
            implicitWidth: 110 * 0.707
            Layout.alignment: Qt.AlignHCenter
            // A page: the file's two colours from the top-leading to the bottom-trailing corner.
            Shape {
                anchors.fill: parent
                ShapePath {
                    strokeWidth: -1
                    fillGradient: LinearGradient {
                        x1: 0; y1: 0
                        x2: thumbnail.width; y2: thumbnail.height
                        GradientStop { position: 0; color: Qt.rgba(card.firstColor.r, card.firstColor.g, card.firstColor.b, 0.7) }
                        GradientStop { position: 1; color: Qt.rgba(card.secondColor.r, card.secondColor.g, card.secondColor.b, 0.5) }
                    }
                    PathLine { x: thumbnail.width; y: 0 }
                    PathLine { x: thumbnail.width; y: thumbnail.height }
                    PathLine { x: 0; y: thumbnail.height }
                    PathLine { x: 0; y: 0 }
                }
            }
            Icon {
                anchors.centerIn: parent
                visible: !card.isSelected
                name: card.typeIcon
                size: 34
                color: "white"
            }
            Rectangle {
                anchors.fill: parent
                visible: card.isSelected
                color: Qt.rgba(0, 0.48, 1, 0.3)
                Icon {
                    anchors.centerIn: parent
                    name: "checkmark.circle.fill"
                    size: 28
                    color: "white"
                }
            }
        }
        Label {
            text: card.fileName
            color: Theme.primaryText
            font.pixelSize: Theme.subheadlineSize
            font.weight: Font.Medium
            elide: Text.ElideMiddle
            maximumLineCount: 1
            // One height for Latin and CJK names, so the cards of a row line up.
            Layout.preferredHeight: Theme.subheadlineSize * 1.6
            verticalAlignment: Text.AlignVCenter
            Layout.fillWidth: true
        }
        RowLayout {
            spacing: 6
            Layout.fillWidth: true
            Label {
                text: card.completed ? "完成" : "处理中"
                color: card.statusColor
                font.pixelSize: Theme.captionSize
                leftPadding: 6
                rightPadding: 6
                topPadding: 3
                bottomPadding: 3
                background: Rectangle {
                    radius: 4
                    color: Qt.rgba(card.statusColor.r, card.statusColor.g, card.statusColor.b, 0.1)
                }
            }
            Item { Layout.fillWidth: true }
            PlainButton {
                text: "预览"
                iconName: "eye.fill"
                iconSize: 14
                fontSize: Theme.captionSize
                spacing: 4
                Accessible.name: "预览 " + card.fileName
                onClicked: card.preview()
            }
        }
    }

    background: Item {
        SoftShadow {
            anchors.fill: parent
            radius: 12
            blur: 4
            offsetY: 2
        }
        VisualEffectView {
            anchors.fill: parent
            radius: 12
            opacity: Theme.sectionBlurOpacity
        }
        Rectangle {
            anchors.fill: parent
            radius: 12
            color: Theme.cardBackground
            opacity: card.hovered || card.isSelected ? 0.9 : 0.7
            border.width: card.isSelected ? 2 : (card.visualFocus ? 2 : 0)
            border.color: Theme.blue
        }
    }
}
