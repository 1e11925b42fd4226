#!/usr/bin/python3
"""Walks a window of a running program as a screen reader does (AT-SPI) and prints, one a line,
every control shown without a name: one a user can reach (a focusable control, a button), one a
reader announces by its kind (a menu bar, a tool bar, a scroll bar, a table, a list, a tab list,
a text box, a drop-down), the window itself. Usage: atspi-walk.py PID WINDOW-TITLE. Exits 2
when the window is not found."""
import sys
import time

import pyatspi

# What a view's cells and a drop-down's parts are called is their text: the view and the
# drop-down carry the name.
NAMED_BY_CONTENT = {pyatspi.ROLE_TABLE_CELL, pyatspi.ROLE_LIST_ITEM, pyatspi.ROLE_TREE_ITEM,
                    pyatspi.ROLE_TABLE_COLUMN_HEADER, pyatspi.ROLE_TABLE_ROW_HEADER,
                    pyatspi.ROLE_COLUMN_HEADER, pyatspi.ROLE_ROW_HEADER}
NAMED_WITH_PARENT = {pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_LIST,
                     pyatspi.ROLE_TREE, pyatspi.ROLE_SCROLL_BAR, pyatspi.ROLE_PAGE_TAB_LIST,
                     pyatspi.ROLE_MENU_BAR}
BUTTONS = {pyatspi.ROLE_PUSH_BUTTON, pyatspi.ROLE_TOGGLE_BUTTON, pyatspi.ROLE_CHECK_BOX,
           pyatspi.ROLE_RADIO_BUTTON}
# Announced by their kind wherever they stand, so they say what they are for, reached by the
# keyboard or not. A drop-down's text box is walked too: the keyboard lands in it.
ANNOUNCED = {pyatspi.ROLE_MENU_BAR, pyatspi.ROLE_TOOL_BAR, pyatspi.ROLE_SCROLL_BAR,
             pyatspi.ROLE_TABLE, pyatspi.ROLE_TREE_TABLE, pyatspi.ROLE_TREE, pyatspi.ROLE_LIST,
             pyatspi.ROLE_PAGE_TAB_LIST, pyatspi.ROLE_COMBO_BOX, pyatspi.ROLE_TEXT,
             pyatspi.ROLE_PASSWORD_TEXT, pyatspi.ROLE_SPIN_BUTTON, pyatspi.ROLE_SLIDER}


def identity(node):
    """The control's role, its hint, and where it stands."""
    path = []
    parent = node.parent
    while parent is not None and parent.getRole() not in (pyatspi.ROLE_FRAME,
                                                          pyatspi.ROLE_DIALOG,
                                                          pyatspi.ROLE_WINDOW):
        path.append(parent.name or parent.getRoleName())
        parent = parent.parent
    return "%s %r (hint %r) in %s, child %d" % (node.getRoleName(), node.name or "",
                                                node.description or "",
                                                " / ".join(reversed(path)) or "the window",
                                                node.getIndexInParent())


def walk(node, faults, depth=0):
    if node is None or depth > 40:
        return
    states = node.getState()
    if not states.contains(pyatspi.STATE_SHOWING):
        return
    role = node.getRole()
    reachable = states.contains(pyatspi.STATE_FOCUSABLE) or role in BUTTONS or role in ANNOUNCED
    if reachable and role not in NAMED_BY_CONTENT and not (node.name or "").strip():
        faults.append(identity(node))
    if role in NAMED_WITH_PARENT:
        return
    for child in node:
        walk(child, faults, depth + 1)


def main():
    pid, title = int(sys.argv[1]), sys.argv[2]
    window = None
    for _ in range(300):  # the program registers itself, and its window shows, a moment later
        for app in pyatspi.Registry.getDesktop(0):
            if app is None or app.get_process_id() != pid:
                continue
            for candidate in app:
                if candidate is not None and candidate.name == title and \
                        candidate.getState().contains(pyatspi.STATE_SHOWING):
                    window = candidate
        if window is not None:
            break
        time.sleep(0.1)
    if window is None:
        print("no window named %r" % title)
        return 2
    faults = []
    walk(window, faults)
    for fault in faults:
        print(fault)
    return 0


if __name__ == "__main__":
    sys.exit(main())
