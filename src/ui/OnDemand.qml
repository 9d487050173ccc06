import QtQuick

// Builds the QML file at `url` the first time `needed` holds, with `properties` set on it, and
// keeps it from then on, so start-up neither loads nor builds parts of a page that nothing
// shows yet. Shown while `needed` holds.
Loader {
    property bool needed: false
    property url url
    property var properties: ({})

    visible: needed
    function make() {
        if (needed && status === Loader.Null)
            setSource(url, properties)
    }
    onNeededChanged: make()
    Component.onCompleted: make()
}
