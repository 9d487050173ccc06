import QtQuick
import QtTest
import Quorvel.Ui
import Quorvel.Service.Views

Item {
    id: root
    width: 800
    height: 600

    Component { id: managerComponent; AuthManager {} }
    Component { id: panelComponent; UserBalanceView { width: 600 } }

    TestCase {
        name: "UserBalanceView"
        when: windowShown

        function showPanel(me, balance) {
            service.reset()
            service.signIn()
            service.answer("GET", "/api/v1/tollan/auth/me", me ? 200 : 500,
                           me ? JSON.stringify({ code: 0, msg: "ok", data: me }) : "down")
            service.answer("GET", "/api/v1/tollan/convertapi/page_balance", balance ? 200 : 500,
                           balance ? JSON.stringify({ code: 0, msg: "ok", data: balance }) : "down")
            const manager = createTemporaryObject(managerComponent, root)
            const view = createTemporaryObject(panelComponent, root, { authManager: manager })
            return view
        }
        function member(lifetime, usage, total) {
            return { email: "a@b.c", is_lifetimedeal_member: lifetime, lifetime_member_description: "ld",
                     page_balcance_description: "pd", lft_daily_usage: usage, lft_daily_total: total }
        }

        function test_pageFigures_data() {
            return [
                { tag: "overdrawn", balance: { total_pages: 100, consumed_pages: 130 },
                  figures: ["130", "0", "100"], bar: true, filled: 1 },
                { tag: "a quarter used", balance: { total_pages: 400, consumed_pages: 100 },
                  figures: ["100", "300", "400"], bar: true, filled: 0.25 },
                { tag: "empty account", balance: { total_pages: 0, consumed_pages: 0 },
                  figures: ["0", "0", "0"], bar: true, filled: 0 },
                { tag: "balance absent", balance: null, figures: ["0", "0", "0"], bar: false, filled: 0 }
            ]
        }
        function test_pageFigures(data) {
            const view = showPanel(member(false, 0, 0), data.balance)
            tryVerify(() => findChild(view, "figure_sum") !== null)
            // A refused balance shows in the account's error; a delivered one in the figures.
            if (!data.balance)
                tryVerify(() => view.authManager.hasError)
            else  // the figures of an empty account are those shown before the answer
                tryVerify(() => !!view.authManager.pageBalance)
            tryCompare(findChild(view, "figure_sum"), "text", data.figures[2])
            compare(findChild(view, "figure_doc.text.fill").text, data.figures[0])
            compare(findChild(view, "figure_chart.bar.fill").text, data.figures[1])
            const bar = findChild(view, "pageBar")
            compare(bar.visible, data.bar)
            // The bar's width arrives with the layout, after the figures. The drawn fill stays
            // within its track while the figures say how far the balance is overdrawn.
            if (data.bar)
                tryVerify(() => bar.width > 0 && Math.abs(bar.fillWidth - bar.width * data.filled) < 0.5)
            compare(findChild(view, "lifetimeCard"), null)
        }

        function test_lifetimeFace_data() {
            return [
                { tag: "over the daily allowance", usage: 12, total: 10, row: true,
                  usageText: "Daily Usage: 12/10", remainText: "Remain: -2", full: true },
                { tag: "no daily allowance", usage: 0, total: 0, row: false }
            ]
        }
        function test_lifetimeFace(data) {
            const view = showPanel(member(true, data.usage, data.total), { total_pages: 5, consumed_pages: 1 })
            tryVerify(() => findChild(view, "lifetimeCard") !== null)
            compare(findChild(view, "figure_sum"), null)
            compare(findChild(view, "dailyRow").visible, data.row)
            compare(findChild(view, "dailyBar").visible, data.row)
            if (data.row) {
                compare(findChild(view, "dailyUsage").text, data.usageText)
                compare(findChild(view, "dailyRemain").text, data.remainText)
                const bar = findChild(view, "dailyBar")
                compare(bar.fillWidth, bar.width)
            }
        }

        function test_spinnerWithoutAccount() {
            const view = showPanel(null, null)
            tryVerify(() => view.authManager.hasError)
            verify(findChild(view, "balanceSpinner") !== null)
            compare(findChild(view, "figure_sum"), null)
        }
    }
}
