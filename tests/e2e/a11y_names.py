#!/usr/bin/env python3
"""Prints the role and name of every object of a running application as a screen
reader reads them through the accessibility bus: one "role|name" line each, and
"role|name|checked" or "role|name|not checked" for what can be checked.

    a11y_names.py APPLICATION_NAME
"""
import sys
import time

import pyatspi


def walk(accessible, out, depth=0):
    if accessible is None or depth > 16:
        return
    try:
        line = f"{accessible.getRoleName()}|{accessible.name}"
        states = accessible.getState()
        if states.contains(pyatspi.STATE_CHECKABLE) or accessible.getRole() == pyatspi.ROLE_CHECK_BOX:
            line += "|checked" if states.contains(pyatspi.STATE_CHECKED) else "|not checked"
        out.add(line)
        children = [accessible.getChildAtIndex(i) for i in range(accessible.childCount)]
    except Exception:  # an object gone while it was read
        return
    for child in children:
        walk(child, out, depth + 1)


def main():
    wanted = sys.argv[1]
    # The application registers with the bus as it starts; give it a moment.
    for _ in range(50):
        desktop = pyatspi.Registry.getDesktop(0)
        apps = [a for a in desktop if a is not None and a.name == wanted]
        if apps:
            found = set()
            for app in apps:
                walk(app, found)
            if any(line.startswith("push button|") for line in found):
                print("\n".join(sorted(found)))
                return 0
        time.sleep(0.2)
    print(f"no application {wanted} with buttons on the accessibility bus", file=sys.stderr)
    return 1


if __name__ == "__main__":
    sys.exit(main())
