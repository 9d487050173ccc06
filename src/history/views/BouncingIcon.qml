import QtQuick
import Quorvel.Ui

// An icon that hops now and then while `bouncing`: work in progress.
Icon {
    id: icon
    property bool bouncing: false

    transform: Translate { id: lift }
    SequentialAnimation {
        running: icon.bouncing && icon.visible
        loops: Animation.Infinite
        onStopped: lift.y = 0
        NumberAnimation { target: lift; property: "y"; to: -icon.size * 0.2; duration: 180; easing.type: Easing.OutQuad }
        NumberAnimation { target: lift; property: "y"; to: 0; duration: 320; easing.type: Easing.OutBounce }
        PauseAnimation { duration: 900 }
    }
}
