import QtQuick

// Builds its component the first time `needed` holds and keeps it from then on, so start-up
// does not pay for parts of a page that nothing shows yet. Shown while `needed` holds.
Loader {
    property bool needed: false

    active: false
    visible: needed
    onNeededChanged: if (needed) active = true
    Component.onCompleted: if (needed) active = true
}
