import QtQuick
import Quorvel.Ui

// A small turning arrow for work in progress; visible on any fill.
Icon {
    id: spinner
    property bool running: true

    name: "arrow.clockwise"
    visible: running
    RotationAnimator on rotation {
        running: spinner.running && spinner.visible
        from: 0
        to: 360
        duration: 900
        loops: Animation.Infinite
    }
}
