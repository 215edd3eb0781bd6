"""What a screen reader finds of the running program, read through AT-SPI while the real
keyboard and pointer (xdotool) use it: the dialog's controls in tab order with names of their
own, the response list as a list of its replies, the failure balloon as an alert that Escape
takes away without ending the program, and a click on the port field while the balloon shows
that reaches the field.

Usage: access_check.py <program pid> <window id> <main dialog items> <device log>
Prints each failure; exit status 1 when there was one."""

import os
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

pid = int(sys.argv[1])
window = sys.argv[2]
items = {}
with open(sys.argv[3]) as f:
    for row in f:
        index, _, x, y, w, h = map(int, row.split())
        items[index] = (x + w // 2, y + h // 2)
device_log = sys.argv[4]
# Template items of the main dialog: 0 Open Port, 7 the port field.
OPEN_PORT, PORT_FIELD = 0, 7
TAB_ORDER = [("push button", "Open Port"), ("text", "Command"), ("push button", "Send"),
             ("push button", "Clear"), ("list", "Response"), ("text", "Port"),
             ("push button", "Close Port")]
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)
    return ok


def pump(seconds):
    """Lets AT-SPI's events in for a while."""
    context = GLib.MainContext.default()
    end = time.monotonic() + seconds
    while time.monotonic() < end:
        while context.pending():
            context.iteration(False)
        time.sleep(0.02)


def wait_until(condition, seconds=10):
    end = time.monotonic() + seconds
    while True:
        try:
            result = condition()
        except Exception:  # an object that went away while it was read
            result = None
        if result or time.monotonic() > end:
            return result
        pump(0.1)


def xdotool(*args):
    subprocess.run(["xdotool", *args], check=True)


def click(item):
    x, y = items[item]
    xdotool("mousemove", "--sync", "--window", window, str(x), str(y), "click", "1")


def device_says(text):
    with open(device_log, errors="replace") as f:
        return f.read().count(text)


def application():
    for app in pyatspi.Registry.getDesktop(0):
        if app is not None and app.get_process_id() == pid:
            return app
    return None


def dialog():
    return next(c for c in application() if c.getRoleName() == "dialog")


def alerts():
    shown_now = []
    for child in application():
        try:
            if child.getRoleName() == "alert" and child.getState().contains(pyatspi.STATE_SHOWING):
                shown_now.append(child)
        except Exception:  # a balloon gone since the list was read
            pass
    return shown_now


def described(acc):
    return (acc.getRoleName(), acc.name)


def focused():
    for child in dialog():
        if child.getState().contains(pyatspi.STATE_FOCUSED):
            return described(child)
    return None


shown = []


def on_showing(event):
    try:
        if event.detail1 and event.source.getRoleName() == "alert":
            shown.append(event.source.name)
    except Exception:
        pass


pyatspi.Registry.registerEventListener(on_showing, "object:state-changed:showing")

if not wait_until(lambda: application() and dialog(), 20):
    print("FAIL: the program is not in the accessibility tree")
    sys.exit(1)

# The controls that take the focus come in tab order, each with a name of its own; Tab visits
# the enabled ones in that order (Close Port is disabled).
tree = [described(c) for c in dialog() if c.getState().contains(pyatspi.STATE_FOCUSABLE)]
check(tree == TAB_ORDER, f"the tree's order {tree}, not the tab order {TAB_ORDER}")
check(len({name for _, name in tree}) == len(tree), f"two controls share a name: {tree}")
visited = [wait_until(focused, 5)]
for _ in range(len(TAB_ORDER) - 1):
    before = visited[-1]
    xdotool("key", "Tab")
    visited.append(wait_until(lambda: focused() != before and focused(), 5))
check(visited == TAB_ORDER[:-1] + [TAB_ORDER[0]],
      f"Tab visits {visited}, not the tree's order")

# Two replies: the list is a list of them.
xdotool("key", "Return")  # Open Port, on port 1; the focus goes on to the command field
check(wait_until(lambda: device_says("port opened")), "Enter on Open Port opened nothing")
for command in ("ECHO first", "ECHO second"):
    xdotool("key", "ctrl+a")
    xdotool("type", "--delay", "20", command)
    xdotool("key", "Return")
check(wait_until(lambda: device_says("command: ECHO second")), "the commands were not sent")


def replies():
    """The list's items; None when there is no list."""
    for child in dialog():
        if child.getRoleName() == "list":
            return [described(item) for item in child]
    return None


expected = [("list item", "first"), ("list item", "second")]
check(wait_until(lambda: replies() == expected, 5),
      f"the replies as list items: {replies()}, not {expected}")

# A failed open: the balloon is an alert a screen reader hears appear.
click(9)  # Close Port
click(PORT_FIELD)
xdotool("key", "ctrl+a", "2")
click(OPEN_PORT)
check(wait_until(lambda: any(name.startswith("cannot open COM2") for name in shown), 5),
      f"no alert appeared (alerts shown: {shown})")
check(wait_until(lambda: [a.name for a in alerts()], 5), "no alert in the tree")

# Escape takes it away, and nothing else: the program, the dialog and its replies stay.
xdotool("key", "Escape")
check(wait_until(lambda: not alerts(), 5), "Escape left the balloon")
pump(0.5)
if not check(os.path.exists(f"/proc/{pid}"), "Escape with the balloon showing ended the program"):
    sys.exit(1)
check(wait_until(lambda: replies() == expected, 2), "Escape lost the replies")

# The balloon again, from the button; the first click on the port field goes to the field:
# the number typed there is the port the next open takes.
click(OPEN_PORT)
check(wait_until(lambda: len(shown) >= 2, 5), "the second failed open showed no balloon")
opened = device_says("port opened")
click(PORT_FIELD)
xdotool("key", "ctrl+a", "1", "Return")
check(wait_until(lambda: device_says("port opened") > opened, 5),
      "the click on the port field did not reach it: port 1 was not opened")
check(wait_until(lambda: not alerts(), 2), "the click left the balloon")

sys.exit(1 if failures else 0)
