import QtQuick
import QtQuick.Layouts

// An adaptive grid: as many columns of at least `minimumColumnWidth` as fit, each at most
// `maximumColumnWidth` wide. Children set `width: grid.cellWidth`.
Flow {
    id: grid
    property real minimumColumnWidth: 160
    property real maximumColumnWidth: Number.POSITIVE_INFINITY
    readonly property int columns: Math.max(1, Math.floor((width + spacing) / (minimumColumnWidth + spacing)))
    readonly property real cellWidth: Math.max(0, Math.min(maximumColumnWidth,
                                                            (width - spacing * (columns - 1)) / columns))

    spacing: 16
    Layout.fillWidth: true
    Layout.preferredWidth: 1
}
