import QtQuick
import Quorvel.Ui

// Stand-in for the platform's blur layer: a frosted translucent fill. `material` and
// `blendingMode` are kept so every use reads as it would with a real blur.
Rectangle {
    property string material: "hudWindow"
    property string blendingMode: "behindWindow"

    color: Theme.blurTint
}
