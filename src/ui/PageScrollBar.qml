import QtQuick
import QtQuick.Templates as T

// The page's scroll bar, drawn as the Basic style draws its own (a thin rounded handle that
// shows while scrolling and fades after), on the template: the first page then needs nothing
// of Qt Quick Controls, whose types load only when a later view asks for them.
T.ScrollBar {
    id: control

    implicitWidth: Math.max(implicitBackgroundWidth + leftInset + rightInset,
                            implicitContentWidth + leftPadding + rightPadding)
    implicitHeight: Math.max(implicitBackgroundHeight + topInset + bottomInset,
                             implicitContentHeight + topPadding + bottomPadding)
    padding: 2
    visible: control.policy !== T.ScrollBar.AlwaysOff
    minimumSize: orientation === Qt.Horizontal ? height / width : width / height

    contentItem: Rectangle {
        implicitWidth: control.interactive ? 6 : 2
        implicitHeight: control.interactive ? 6 : 2
        radius: width / 2
        // The Basic style's mid and dark greys.
        color: control.pressed ? "#353637" : "#bdbdbd"
        opacity: 0

        states: State {
            name: "active"
            when: control.policy === T.ScrollBar.AlwaysOn || (control.active && control.size < 1)
            PropertyChanges { control.contentItem.opacity: 0.75 }
        }
        transitions: Transition {
            from: "active"
            SequentialAnimation {
                PauseAnimation { duration: 450 }
                NumberAnimation {
                    target: control.contentItem
                    property: "opacity"
                    duration: 200
                    to: 0
                }
            }
        }
    }
}
