# SPDX-License-Identifier: GPL-3.0-or-later
"""What a screen reader finds of a running program, through AT-SPI as Orca reads it.

  accessible-tree.py check PROGRAM WINDOW TREE_FILE [CODE]
      writes the tree of PROGRAM's window named WINDOW to TREE_FILE and fails (1) on a control
      without a name, a checklist state without words, a picker without its label, or the
      keyboard anywhere but on Copy (whose description must carry CODE)
  accessible-tree.py listen PROGRAM SECONDS
      prints "listening", then one line for each notification PROGRAM shows in SECONDS
"""
import sys

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402

R = Atspi.Role
CONTROLS = {R.PUSH_BUTTON, R.CHECK_BOX, R.COMBO_BOX, R.TOGGLE_BUTTON, R.RADIO_BUTTON, R.ENTRY,
            R.PASSWORD_TEXT, R.SPIN_BUTTON, R.SLIDER, R.LINK}
STATE_WORDS = {"done", "needs attention", "waiting", "optional"}


def has(node, state):
    return node.get_state_set().contains(state)


def children(node):
    return [c for c in (node.get_child_at_index(i) for i in range(node.get_child_count())) if c is not None]


def walk(node, depth=0):
    yield node, depth
    for child in children(node):
        yield from walk(child, depth + 1)


def describe(node):
    states = [name for name, state in (("focused", Atspi.StateType.FOCUSED),
                                       ("focusable", Atspi.StateType.FOCUSABLE)) if has(node, state)]
    text = f"[{node.get_role_name()}] {node.get_name()!r}"
    if node.get_description():
        text += f" ({node.get_description()!r})"
    return text + (" " + ",".join(states) if states else "")


def labelled(node):
    return any(r.get_relation_type() == Atspi.RelationType.LABELLED_BY and r.get_n_targets()
               for r in node.get_relation_set())


def check(name, window_name, tree_file, code=None):
    app = next((c for c in children(Atspi.get_desktop(0)) if c.get_name() == name), None)
    if app is None:
        print(f"{name} is not among the programs a screen reader sees")
        return 1
    windows = children(app)
    window = next((w for w in windows if w.get_name() == window_name and has(w, Atspi.StateType.SHOWING)), None)
    if window is None:
        print(f"{name} lists no window named {window_name!r} among its windows: {[w.get_name() for w in windows]}")
        return 1
    problems = []
    if window.get_role() not in (R.WINDOW, R.FRAME):
        problems.append(f"the window {window_name!r} is a {window.get_role_name()}")
    lines, focused, states = [describe(app)], [], []
    for node, depth in walk(window):
        if not has(node, Atspi.StateType.SHOWING):
            continue
        lines.append("  " * (depth + 1) + describe(node))
        if node.get_role() in CONTROLS and not node.get_name().strip():
            problems.append(f"a {node.get_role_name()} without a name: {describe(node)}")
        if has(node, Atspi.StateType.FOCUSED):
            focused.append(node)
        if node.get_name() in STATE_WORDS:
            states.append(node.get_name())
        if node.get_role() == R.COMBO_BOX and not labelled(node):
            problems.append(f"no label is tied to {describe(node)}")
    with open(tree_file, "w", encoding="utf-8") as out:
        out.write("\n".join(lines) + "\n")
    if len(states) < 7:
        problems.append(f"the checklist's rows say their state in words {len(states)} times, not 7: {states}")
    if len(focused) != 1 or focused[0].get_role() != R.PUSH_BUTTON or focused[0].get_name() != "Copy":
        problems.append(f"the keyboard is on {[describe(n) for n in focused]}, not on Copy")
    elif code and code not in focused[0].get_description():
        problems.append(f"Copy's description does not carry the code {code!r}")
    print("\n".join(problems))
    return 1 if problems else 0


def listen(name, seconds):
    def showing(event):
        source = event.source
        if event.detail1 == 1 and source.get_role() == R.NOTIFICATION and source.get_application().get_name() == name:
            print(f"notification: {source.get_name()}", flush=True)

    listener = Atspi.EventListener.new(showing)
    listener.register("object:state-changed:showing")
    print("listening", flush=True)
    loop = GLib.MainLoop()
    GLib.timeout_add(int(float(seconds) * 1000), loop.quit)
    loop.run()
    listener.deregister("object:state-changed:showing")
    return 0


if __name__ == "__main__":
    if sys.argv[1:2] == ["check"] and len(sys.argv) in (5, 6):
        sys.exit(check(*sys.argv[2:]))
    if sys.argv[1:2] == ["listen"] and len(sys.argv) == 4:
        sys.exit(listen(*sys.argv[2:]))
    sys.exit(__doc__)
