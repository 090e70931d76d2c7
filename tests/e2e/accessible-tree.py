# SPDX-License-Identifier: GPL-3.0-or-later
"""What a screen reader finds of a running program, through AT-SPI as Orca reads it.

  accessible-tree.py check PROGRAM WINDOW TREE_FILE
      writes the tree of PROGRAM's window named WINDOW to TREE_FILE and fails (1) on a control
      without a name, a checklist state without words, a picker without its label, or the
      keyboard anywhere but on Copy (whose description must carry the code)
  accessible-tree.py listen PROGRAM SECONDS
      prints "listening", then one line for each notification PROGRAM shows in SECONDS
"""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

CONTROLS = {
    Atspi.Role.PUSH_BUTTON, Atspi.Role.CHECK_BOX, Atspi.Role.COMBO_BOX, Atspi.Role.TOGGLE_BUTTON,
    Atspi.Role.RADIO_BUTTON, Atspi.Role.ENTRY, Atspi.Role.PASSWORD_TEXT, Atspi.Role.SPIN_BUTTON,
    Atspi.Role.SLIDER, Atspi.Role.LINK,
}
STATE_WORDS = {"done", "needs attention", "waiting", "optional"}


def program(name):
    desktop = Atspi.get_desktop(0)
    for index in range(desktop.get_child_count()):
        child = desktop.get_child_at_index(index)
        if child is not None and child.get_name() == name:
            return child
    return None


def has(node, state):
    return node.get_state_set().contains(state)


def walk(node, depth=0):
    yield node, depth
    for index in range(node.get_child_count()):
        child = node.get_child_at_index(index)
        if child is not None:
            yield from walk(child, depth + 1)


def describe(node):
    states = [name for name, state in (("focused", Atspi.StateType.FOCUSED),
                                       ("focusable", Atspi.StateType.FOCUSABLE))
              if has(node, state)]
    text = f"[{node.get_role_name()}] {node.get_name()!r}"
    if node.get_description():
        text += f" ({node.get_description()!r})"
    return text + (" " + ",".join(states) if states else "")


def labelled_by(node):
    names = []
    for relation in node.get_relation_set():
        if relation.get_relation_type() == Atspi.RelationType.LABELLED_BY:
            names += [relation.get_target(i).get_name() for i in range(relation.get_n_targets())]
    return names


def check(name, window_name, tree_file):
    app = program(name)
    if app is None:
        print(f"{name} is not among the programs a screen reader sees")
        return 1
    windows = [app.get_child_at_index(i) for i in range(app.get_child_count())]
    window = next((w for w in windows if w is not None and w.get_name() == window_name
                   and has(w, Atspi.StateType.SHOWING)), None)
    if window is None:
        print(f"{name} lists no window named {window_name!r} among its "
              f"{len(windows)} windows: {[w.get_name() for w in windows if w is not None]}")
        return 1
    problems = []
    if window.get_role() not in (Atspi.Role.WINDOW, Atspi.Role.FRAME):
        problems.append(f"the window {window_name!r} is a {window.get_role_name()}")
    lines = [describe(app)]
    focused = []
    states = []
    for node, depth in walk(window):
        if not has(node, Atspi.StateType.SHOWING):
            continue
        lines.append("  " * (depth + 1) + describe(node))
        role = node.get_role()
        if role in CONTROLS and not node.get_name().strip():
            problems.append(f"a {node.get_role_name()} without a name: {describe(node)}")
        if has(node, Atspi.StateType.FOCUSED):
            focused.append(node)
        if node.get_name() in STATE_WORDS:
            states.append(node.get_name())
        if role == Atspi.Role.COMBO_BOX and not labelled_by(node):
            problems.append(f"no label is tied to {describe(node)}")
    with open(tree_file, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    if len(states) < 7:
        problems.append(f"the checklist's rows say their state in words {len(states)} times, "
                        f"not 7: {states}")
    if len(focused) != 1 or focused[0].get_role() != Atspi.Role.PUSH_BUTTON \
            or focused[0].get_name() != "Copy":
        problems.append(f"the keyboard is on {[describe(n) for n in focused]}, not on Copy")
    elif len(sys.argv) > 5 and sys.argv[5] not in focused[0].get_description():
        problems.append(f"Copy's description does not carry the code {sys.argv[5]!r}")
    for problem in problems:
        print(problem)
    return 1 if problems else 0


def listen(name, seconds):
    loop = GLib.MainLoop()

    def showing(event):
        source = event.source
        if event.detail1 != 1 or source.get_role() != Atspi.Role.NOTIFICATION:
            return
        if source.get_application().get_name() == name:
            print(f"notification: {source.get_name()}", flush=True)

    listener = Atspi.EventListener.new(showing)
    listener.register("object:state-changed:showing")
    print("listening", flush=True)
    GLib.timeout_add(int(float(seconds) * 1000), loop.quit)
    loop.run()
    listener.deregister("object:state-changed:showing")
    return 0


if __name__ == "__main__":
    if len(sys.argv) >= 5 and sys.argv[1] == "check":
        sys.exit(check(sys.argv[2], sys.argv[3], sys.argv[4]))
    if len(sys.argv) == 4 and sys.argv[1] == "listen":
        sys.exit(listen(sys.argv[2], sys.argv[3]))
    print(__doc__, file=sys.stderr)
    sys.exit(2)
