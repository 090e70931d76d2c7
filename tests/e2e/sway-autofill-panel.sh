#!/usr/bin/env bash
# End to end on sway (headless, with XWayland): the browser (an X11 window, as browsers mostly
# run there) has the keyboard and starts the AutoFill helper with the session's own environment,
# asking for the panel. The panel must come up in front with the keyboard, so that Return presses
# its default button and Escape its cancel button. Twice: on native Wayland, which Qt picks in
# sway's own environment, and on XWayland, as for a user who sets QT_QPA_PLATFORM=xcb.
#
# sway refuses to run as root. Run as root, the script runs itself again as the user nobody
# (setpriv), inside a private desktop session of that user's own, with copies of the binary and
# scripts in a directory that user can read.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
# shellcheck source=tests/e2e/session.sh
source "$here/session.sh"
e2e_require_session sway-autofill-panel.sh "ZORVIKMACAUTOFILL" "$@"
autofill=$1
readonly origin=chrome-extension://pefndcdalefolcllbmhdfnidbfjfjkgc/

for tool in sway Xwayland xmessage xdotool wtype swaymsg jq; do
    if ! command -v "$tool" >/dev/null; then
        echo "skipped: $tool is missing (scripts/bootstrap installs it)"
        exit 77
    fi
done

if [[ $(id -u) -eq 0 ]]; then
    user=nobody
    stage=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-sway.XXXXXX")
    trap 'rm -rf -- "$stage"' EXIT
    cp -- "$autofill" "$stage/ZorvikMacAutoFill"
    cp -- "$here/sway-autofill-panel.sh" "$here/session.sh" "$here/../../scripts/desktop-session" \
        "$here/../support/lsan.supp" "$stage/"
    chmod -R a+rX -- "$stage"
    status=0
    # The user's own session: nothing of root's (display, bus, keyring, directories) goes along.
    env -u DISPLAY -u XAUTHORITY -u DBUS_SESSION_BUS_ADDRESS -u ZORVIK_TRAY_WATCHER \
        -u ZORVIK_SESSION_DIR -u ZORVIK_DESKTOP_SESSION -u TMPDIR \
        LSAN_OPTIONS="suppressions=$stage/lsan.supp:print_suppressions=0" \
        setpriv --reuid="$user" --regid="$(id -g "$user")" --clear-groups \
        "$stage/desktop-session" "$stage/sway-autofill-panel.sh" "$stage/ZorvikMacAutoFill" ||
        status=$?
    exit "$status"
fi

compositor_log=$ZORVIK_SESSION_DIR/logs/sway.log
environment=$ZORVIK_SESSION_DIR/sway-environment
log=$ZORVIK_SESSION_DIR/logs/helper.log
answers=$ZORVIK_SESSION_DIR/answers
input=$ZORVIK_SESSION_DIR/input
sway_pid=
browser=
helper=
failures=0

fail() {
    echo "FAIL: $*"
    echo "--- helper log"
    cat "$log" 2>/dev/null || true
    echo "--- compositor log (last lines)"
    tail -n 20 "$compositor_log" 2>/dev/null || true
    exit 1
}
stop() {
    if [[ -n $1 ]]; then
        kill "$1" 2>/dev/null || true
        wait "$1" 2>/dev/null || true
    fi
}
cleanup() {
    exec 3>&- 2>/dev/null || true
    stop "$helper"
    stop "$browser"
    stop "$sway_pid"
    # The program that wrote the environment down outlives sway.
    if [[ -s $environment.pid ]]; then
        kill "$(<"$environment.pid")" 2>/dev/null || true
    fi
}
trap cleanup EXIT

# sway writes its session's variables down through a program of its own, as it starts any. (A
# script: sway's configuration turns "$$" into "$".)
cat >"$ZORVIK_SESSION_DIR/sway-started.sh" <<'SCRIPT'
echo $$ >"$1.pid"
env >"$1.part" && mv -- "$1.part" "$1"
exec sleep 600
SCRIPT
cat >"$ZORVIK_SESSION_DIR/sway.config" <<CONFIG
xwayland enable
output * resolution 1280x800
exec sh "$ZORVIK_SESSION_DIR/sway-started.sh" "$environment"
CONFIG
env -u DISPLAY -u XAUTHORITY -u QT_QPA_PLATFORM WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 \
    WLR_RENDERER=pixman sway -c "$ZORVIK_SESSION_DIR/sway.config" </dev/null >"$compositor_log" 2>&1 &
sway_pid=$!
within 10 test -s "$environment" || fail "sway did not start"
mapfile -t session_environment <"$environment"
unset DISPLAY XAUTHORITY QT_QPA_PLATFORM
for name in WAYLAND_DISPLAY DISPLAY SWAYSOCK; do
    line=$(grep -m 1 "^$name=" -- "$environment") || fail "sway's session has no $name"
    export "${line?}"
done

# The focused window, as sway sees it: its title and kind (xwayland or xdg_shell).
focused() {
    swaymsg -t get_tree 2>/dev/null |
        jq -r 'first(.. | objects | select(.focused == true and .type != "workspace"
            and .type != "output" and .type != "root")) | "\(.name) (\(.shell))"'
}
focused_is() {
    [[ $(focused) == "$1 "* ]]
}
has_window() {
    swaymsg -t get_tree 2>/dev/null | jq -e --arg name "$1" \
        'any(.. | objects; .name == $name and .visible == true)' >/dev/null
}
x_focus() {
    xdotool getwindowfocus getwindowname 2>/dev/null || true
}
x_focus_is() {
    [[ $(x_focus) == "$1" ]]
}
answered() {
    grep -aq -- "$1" "$answers"
}
# One native-messaging frame: the length in four bytes (this machine's order, little-endian
# here), then the JSON.
frame() {
    local n=${#1}
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((n & 255)) $((n >> 8 & 255)) \
        $((n >> 16 & 255)) $((n >> 24 & 255)))%s" "$1"
}

xmessage -geometry 600x300 -title Browser "the browser" &
browser=$!
within 10 has_window Browser || fail "the browser's window did not come up"

# show_panel HOW KEY ANSWER REQUEST [VAR=VALUE...]: the helper as the browser starts it,
# with the session's environment (and the variables given), asked for a panel.
show_panel() {
    local how=$1 key=$2 wanted=$3 request=$4
    shift 4
    swaymsg "[title=\"^Browser\$\"] focus" >/dev/null
    within 5 focused_is Browser || fail "the browser does not have the keyboard: $(focused)"
    rm -f -- "$input" "$answers"
    mkfifo "$input"
    env -i "${session_environment[@]}" "$@" "$autofill" "$origin" <"$input" >"$answers" 2>>"$log" &
    helper=$!
    exec 3>"$input"
    frame "$request" >&3
    within 10 has_window Zorvik || fail "$how: the panel did not come up"
    if within 3 focused_is Zorvik; then
        echo "ok: $how: the panel has the keyboard: $(focused)"
    else
        echo "FAIL: $how: the panel does not have the keyboard: the focused window is $(focused)"
        failures=$((failures + 1))
    fi
    # Typed as a keyboard types, to whichever window has the keyboard: wtype through sway's
    # virtual keyboard; xdotool through XWayland, which delivers to its focused X11 window.
    # A user types a moment after the panel appears. wtype's virtual keyboard brings a keymap of
    # its own, which the client must have taken before the key comes (keys sent at once are
    # lost); an X11 window gets XTEST's keys once XWayland has given it the X input focus too.
    if [[ $(focused) == *"(xwayland)" ]]; then
        within 3 x_focus_is Zorvik || echo "note: XWayland's input focus is on '$(x_focus)'"
        xdotool key "$key"
    else
        wtype -s 300 -k "$key"
    fi
    if within 3 answered "$wanted"; then
        echo "ok: $how: $key typed then reached the panel"
    else
        echo "FAIL: $how: $key typed then did not reach the panel (answers: $(tr -cd '[:print:]' <"$answers"))"
        failures=$((failures + 1))
    fi
    exec 3>&-
    within 5 bash -c "! kill -0 $helper 2>/dev/null" || stop "$helper"
    wait "$helper" 2>/dev/null || true
    helper=
}

configuration='{"id":1,"type":"prepareConfiguration"}'
provide='{"id":2,"type":"prepareInterfaceToProvide","request":{"type":3,"credentialIdentity":{"serviceIdentifier":{"identifier":"github.com","type":"domain"}}}}'
for how in "native Wayland" "XWayland"; do
    settings=()
    [[ $how == XWayland ]] && settings=(QT_QPA_PLATFORM=xcb)
    # Return presses the configuration panel's Done; Escape the waiting panel's Cancel.
    show_panel "$how" Return '"result":"configurationCompleted"' "$configuration" "${settings[@]}"
    show_panel "$how" Escape '"code":1,' "$provide" "${settings[@]}"
done

((failures == 0)) || fail "$failures check(s) failed"
