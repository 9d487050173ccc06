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
            { tag: "empty", raw: "", accepted: false, dark: false },
            { tag: "padded", raw: " dark", accepted: false, dark: false }
        ]
    }
    function test_rawValues(data) {
        verify(theme.setRawValue("light"))
        compare(theme.setRawValue(data.raw), data.accepted)
        compare(theme.isDark, data.dark)
        compare(theme.rawValue, data.dark ? "dark" : "light")
    }

    function test_casesInOrder() {
        compare(theme.allRawValues(), ["light", "dark"])
    }

    function test_paletteFollowsTheTheme() {
        theme.setRawValue("light")
        const light = [theme.cardBackground.a, theme.cardBorder.a, theme.cardBlurOpacity, theme.cardShadowRadius]
        theme.setRawValue("dark")
        const dark = [theme.cardBackground.a, theme.cardBorder.a, theme.cardBlurOpacity, theme.cardShadowRadius]
        fuzzyCompare(light[0], 0.5, 0.01)
        fuzzyCompare(dark[0], 0.08, 0.01)
        fuzzyCompare(light[1], 0.2, 0.01)
        fuzzyCompare(dark[1], 0.3, 0.01)
        compare([light[2], light[3], dark[2], dark[3]], [0.5, 10, 0.3, 8])
    }
}
