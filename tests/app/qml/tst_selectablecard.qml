import QtQuick
import QtTest
import Quorvel.Assistant

Item {
    id: root
    width: 800
    height: 600

    Component {
        id: cardComponent
        SelectablePDFCard {
            width: 200
            fileName: "Q3 report.pdf"
            // The list answers a selection by flipping the card's isSelected.
            onSelect: isSelected = !isSelected
        }
    }

    TestCase {
        name: "SelectablePDFCard"
        when: windowShown

        // A check box whose checked state is the selection, by mouse, keyboard or a screen
        // reader's action; a disabled card ignores them all.
        function test_selection_data() {
            return [
                { tag: "click", how: "click", enabled: true, selected: true },
                { tag: "space", how: "space", enabled: true, selected: true },
                { tag: "press action", how: "press", enabled: true, selected: true },
                { tag: "toggle action", how: "toggle", enabled: true, selected: true },
                { tag: "press action, disabled", how: "press", enabled: false, selected: false },
                { tag: "toggle action, disabled", how: "toggle", enabled: false, selected: false }
            ]
        }
        function test_selection(data) {
            const card = createTemporaryObject(cardComponent, root, { enabled: data.enabled })
            compare(card.checked, false)
            if (data.how === "click") {
                mouseClick(card)
            } else if (data.how === "space") {
                card.forceActiveFocus()
                keyClick(Qt.Key_Space)
            } else if (data.how === "press") {
                card.Accessible.pressAction()
            } else {
                card.Accessible.toggleAction()
            }
            compare(card.isSelected, data.selected)
            compare(card.checked, data.selected)
            if (data.enabled) {
                card.Accessible.pressAction() // and back
                compare(card.isSelected, false)
                compare(card.checked, false)
            }
        }
    }
}
