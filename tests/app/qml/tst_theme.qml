import QtQuick
import QtTest
import Quorvel.Ui

TestCase {
    name: "Theme"


    function test_rawValues_data() {
        return [
            { tag: "light", raw: "light", accepted: true, dark: false },
            { tag: "dark", raw: "dark", accepted: true, dark: true },
            { tag: "capital first letter", raw: "Dark", accepted: false, dark: false },
            { tag: "padded", raw: " dark", accepted: false, dark: false }
        ]
    }
    function test_rawValues(data) {
        verify(Theme.setRawValue("light"))
        compare(Theme.setRawValue(data.raw), data.accepted)
        compare(Theme.isDark, data.dark)
        compare(Theme.rawValue, data.dark ? "dark" : "light")
    }
}
