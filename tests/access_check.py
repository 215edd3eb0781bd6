"""What a screen reader finds of the running program through AT-SPI while xdotool uses it: the
controls in tab order with names of their own, the replies as the items of a list, the failure
balloon as an alert, and the program still there once Escape has taken the balloon away.
Usage: access_check.py <program pid> <window id> <main dialog items> <device log>"""

import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

pid, window, device_log = int(sys.argv[1]), sys.argv[2], sys.argv[4]
with open(sys.argv[3]) as f:  # "index id x y w h": where each template item's middle is
    middle = {int(r[0]): (int(r[2]) + int(r[4]) // 2, int(r[3]) + int(r[5]) // 2)
              for r in map(str.split, f)}
TAB_ORDER = [("push button", "Open Port"), ("text", "Command"), ("push button", "Send"),
             ("push button", "Clear"), ("list", "Response"), ("text", "Port"),
             ("push button", "Close Port")]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)
    return ok


def wait_until(condition, seconds=10):
    """Lets AT-SPI's events in until the condition holds; its last value."""
    end = time.monotonic() + seconds
    while True:
        try:
            result = condition()
        except Exception:  # an object gone while it was read
            result = None
        if result or time.monotonic() > end:
            return result
        while GLib.MainContext.default().iteration(False):
            pass
        time.sleep(0.05)


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True)


def click(item):
    xdotool("mousemove", "--sync", "--window", window, *map(str, middle[item]), "click", "1")


def device_says(text):
    with open(device_log, errors="replace") as f:
        return text in f.read()


def application():
    return next(a for a in pyatspi.Registry.getDesktop(0) if a and a.get_process_id() == pid)


def dialog():
    return next(c for c in application() if c.getRoleName() == "dialog")


def shown(role):
    return [c.name for c in application()
            if c.getRoleName() == role and c.getState().contains(pyatspi.STATE_SHOWING)]


def replies():
    return [(i.getRoleName(), i.name) for c in dialog() if c.getRoleName() == "list" for i in c]


alerts = []
pyatspi.Registry.registerEventListener(
    lambda e: e.detail1 and e.source.getRoleName() == "alert" and alerts.append(e.source.name),
    "object:state-changed:showing")
if not wait_until(dialog, 20):
    sys.exit("FAIL: the program is not in the accessibility tree")

tree = [(c.getRoleName(), c.name) for c in dialog() if c.getState().contains(pyatspi.STATE_FOCUSABLE)]
check(tree == TAB_ORDER, f"the focusable controls {tree}, not in the tab order {TAB_ORDER}")

xdotool("key", "Return")  # Open Port (port 1); the focus goes on to the command field
check(wait_until(lambda: device_says("port opened")), "Enter on Open Port opened nothing")
for command in ("ECHO first", "ECHO second"):
    xdotool("key", "ctrl+a")
    xdotool("type", "--delay", "20", command)
    xdotool("key", "Return")
expected = [("list item", "first"), ("list item", "second")]
check(wait_until(lambda: replies() == expected), f"the replies as list items: {replies()}")

click(9)  # Close Port; port 2 names nothing: Open Port fails
click(7)
xdotool("key", "ctrl+a", "2")
click(0)
check(wait_until(lambda: [a for a in alerts if a.startswith("cannot open COM2")], 5),
      f"no alert said why the open failed (alerts: {alerts})")
check(wait_until(lambda: shown("alert"), 2), "no alert in the tree")
xdotool("key", "Escape")
check(wait_until(lambda: not shown("alert"), 5), "Escape left the balloon")
if check(os.path.exists(f"/proc/{pid}"), "Escape with the balloon showing ended the program"):
    check(wait_until(lambda: replies() == expected, 2), "Escape lost the replies")
sys.exit(1 if failures else 0)
