pragma Singleton
import QtQuick
import Quorvel.Ui

// The task look names its colours ("green", "secondaryText"); these are the theme's colours
// for those names, so a card never reads the theme by a computed key.
QtObject {
    function of(name: string): color {
        switch (name) {
        case "blue": return Theme.blue
        case "green": return Theme.green
        case "red": return Theme.red
        case "orange": return Theme.orange
        case "secondaryText": return Theme.secondaryText
        }
        return Theme.gray
    }
}
