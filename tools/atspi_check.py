#!/usr/bin/python3
"""Drives the running desktop program through the AT-SPI bus, as a screen reader would, and
checks what it reads and what its actions do. Run by tools/atspi-check.sh."""
import sys
import time

import pyatspi

failures = []


def check(condition, what):
    print(("ok    " if condition else "FAIL  ") + what)
    if not condition:
        failures.append(what)


def wait_for(get, seconds=10.0):
    """Polls get() until it gives something true; returns it, or None after `seconds`."""
    end = time.time() + seconds
    while time.time() < end:
        try:
            value = get()
        except Exception:  # the tree changes under us while windows open and close
            value = None
        if value:
            return value
        time.sleep(0.1)
    return None


def find(root, predicate):
    if root is None:
        return None
    if predicate(root):
        return root
    for i in range(root.childCount):
        found = find(root.getChildAtIndex(i), predicate)
        if found is not None:
            return found
    return None


def program():
    desktop = pyatspi.Registry.getDesktop(0)
    for i in range(desktop.childCount):
        app = desktop.getChildAtIndex(i)
        if app is not None and app.name == "Tollwick":
            return app
    return None


def node(role, name, root=None):
    return wait_for(lambda: find(root or program(), lambda a: a.getRoleName() == role and a.name == name))


def do(accessible, action):
    """Runs the action once the control offers it (a disabled control offers none)."""
    def offered():
        actions = accessible.queryAction()
        names = [actions.getName(i) for i in range(actions.nActions)]
        return (actions, names.index(action)) if action in names else None
    found = wait_for(offered)
    if found is None:
        raise SystemExit("FAIL  %s %r offers no %s" % (accessible.getRoleName(), accessible.name, action))
    found[0].doAction(found[1])


def labelled_by(accessible):
    return [r.getTarget(i).name for r in accessible.getRelationSet()
            if r.getRelationType() == pyatspi.RELATION_LABELLED_BY for i in range(r.getNTargets())]


main = node("dialog", "VK3300S")
check(main is not None, "the main window is on the bus")
if main is None:
    sys.exit(1)
connection = wait_for(lambda: find(main, lambda a: a.getRoleName() == "label"
                                   and a.description == "Connection" and a.name))
check(connection is not None and connection.name.startswith("Connection: COM1 9600,8,N,1"),
      "the connection line reads what it is and its text")
counter = find(main, lambda a: a.description == "Track1 characters")
check(counter is not None and counter.name == "Track1 characters: 0",
      "the track 1 counter reads what it counts and its count")
check(find(main, lambda a: a.getRoleName() == "check box" and "left out" in a.description)
      is not None, "a track check box says that ticked means left out")
group = node("panel", "Select Data type")
check(group is not None and group.childCount == 5, "the data-type radios sit in their named group")

do(node("radio button", "AAMVA"), "Toggle")
check(wait_for(lambda: node("check box", "Track3 210 BPI 7 BPC ODD Parity", main)) is not None,
      "AAMVA toggled through AT-SPI applies its track labels")
do(node("radio button", "ISO"), "Toggle")

do(node("push button", "Setup"), "Press")
setup = node("dialog", "Setup")
row = node("panel", "Track2 BPI", setup)
combos = [row.getChildAtIndex(i) for i in range(row.childCount)
          if row.getChildAtIndex(i).getRoleName() == "combo box"]
check([labelled_by(c)[0] for c in combos] == ["Track2 BPC", "Track2 Parity", "Track2 SS", "Track2 ES"],
      "the track 2 combos are labelled Track2 BPC, Parity, SS, ES")
do(node("push button", "Cancel", setup), "Press")

do(node("push button", "Erase"), "Press")
erase = node("dialog", "Erase Select")
do(node("check box", "Track2", erase), "Toggle")
do(node("push button", "OK", erase), "Press")
wait_for(lambda: find(program(), lambda a: a.description == "Reader state" and "erase" in a.name))
cards = node("list", "Cards")
do(cards.getChildAtIndex(3), "Toggle")  # the ISO bank card
do(node("push button", "Swipe (F5)"), "Press")
box = wait_for(lambda: find(program(), lambda a: a.getRoleName() == "label" and a.name == "Erase OK"))
check(box is not None, "the card ticked and chosen through AT-SPI is erased: \"Erase OK\"")
if box is not None:
    do(node("push button", "OK", box.parent), "Press")
check(wait_for(lambda: cards.getChildAtIndex(3).name.startswith("4  erased, holds %B")) is not None,
      "the erased card is named by what it still holds")
check(wait_for(lambda: find(main, lambda a: a.getRoleName() == "notification"
                            and a.name == "Erase Card <1> OK!")) is not None,
      "the message line's news is a notification a screen reader speaks")

print("all checks passed" if not failures else "%d check(s) failed" % len(failures))
sys.exit(1 if failures else 0)
