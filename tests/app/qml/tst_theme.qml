import QtQuick
import QtTest
import Quorvel.Ui

TestCase {
    name: "Theme"

    Theme { id: theme }

    function test_rawValues_data() {
        return [
            { tag: "light", raw: "light", accepted: true, dark: false },
            { tag: "dark", raw: "dark", accepted: true, dark: true },
            { tag: "capital first letter", raw: "Dark", accepted: false, dark: false },
            { tag: "padded", raw: " dark", accepted: false, dark: false }
        ]
    }
    function test_rawValues(data) {
        verify(theme.setRawValue("light"))
        compare(theme.setRawValue(data.raw), data.accepted)
        compare(theme.isDark, data.dark)
        compare(theme.rawValue, data.dark ? "dark" : "light")
    }
}
