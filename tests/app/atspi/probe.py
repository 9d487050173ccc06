#!/usr/bin/python3
"""Reads the window's controls as a screen reader does: through AT-SPI, from outside the
process. Run by tests/app/atspi/run (a private session bus, Xvfb and the accessibility bus).

  probe.py APP   prints one line per checked control and exits non-zero on a mismatch
"""
import os
import subprocess
import sys
import time

import pyatspi


def find_app(name, timeout=20):
    end = time.time() + timeout
    while time.time() < end:
        desktop = pyatspi.Registry.getDesktop(0)
        for app in desktop:
            if app is not None and app.name.lower() == name:
                return app
        time.sleep(0.2)
    return None


def walk(node):
    yield node
    for i in range(node.childCount):
        child = node.getChildAtIndex(i)
        if child is not None:
            yield from walk(child)


def find(app, pred, timeout=10):
    end = time.time() + timeout
    while time.time() < end:
        for node in walk(app):
            try:
                if pred(node):
                    return node
            except Exception:
                pass
        time.sleep(0.2)
    return None


def states(node):
    s = node.getState()
    return {n for n, v in (("checked", pyatspi.STATE_CHECKED),
                           ("selected", pyatspi.STATE_SELECTED),
                           ("checkable", pyatspi.STATE_CHECKABLE),
                           ("selectable", pyatspi.STATE_SELECTABLE)) if s.contains(v)}


def press(node):
    action = node.queryAction()
    for i in range(action.nActions):
        if action.getName(i) in ("press", "Press", "toggle", "Toggle"):
            return action.doAction(i)
    return False


def main():
    app_path = sys.argv[1]
    proc = subprocess.Popen([app_path], env=os.environ.copy())
    failures = []
    checks = [0]

    def check(what, got, want):
        checks[0] += 1
        ok = got == want
        print(("ok   " if ok else "FAIL ") + f"{what}: {got!r}" + ("" if ok else f" (want {want!r})"))
        if not ok:
            failures.append(what)

    try:
        app = find_app("quorvel")
        if app is None:
            names = [a.name for a in pyatspi.Registry.getDesktop(0) if a is not None]
            print("FAIL the window never appeared on the accessibility bus; there:", names)
            return 1
        for title, selected in (("Convert", True), ("History", False), ("Assistant", False)):
            tab = find(app, lambda n: n.name == title and n.getRoleName() in
                       ("page tab", "push button", "toggle button", "radio button"))
            if tab is None:
                check(f"tab {title}", None, "page tab")
                continue
            check(f"tab {title} role", tab.getRoleName(), "page tab")
            check(f"tab {title} selected", bool({"selected", "checked"} & states(tab)), selected)
        history = find(app, lambda n: n.name == "History" and n.getRoleName() == "page tab")
        if history is not None:
            press(history)
            time.sleep(0.5)
            check("History after its press, selected",
                  bool({"selected", "checked"} & states(history)), True)

        login = find(app, lambda n: n.name == "Login" and n.getRoleName() == "push button")
        check("Login button found", login is not None, True)
        if login is not None:
            press(login)
            password = find(app, lambda n: n.getRoleName() == "password text")
            check("password field found", password is not None, True)
            if password is not None:
                check("password field name", password.name, "Password")
    finally:
        proc.terminate()
        proc.wait(10)
    print(f"atspi: {checks[0] - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
