pragma Singleton
import QtQuick
import Quorvel.Ui
import Quorvel.History.Views

// The theme's colour of each tone of the task look.
QtObject {
    function of(tone: int): color {
        switch (tone) {
        case TaskTone.Success: return Theme.green
        case TaskTone.Failure: return Theme.red
        case TaskTone.Retry: return Theme.orange
        }
        return Theme.blue
    }
}
