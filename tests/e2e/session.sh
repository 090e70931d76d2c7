# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the end-to-end scripts: the harness (e2e_begin, e2e_start, expect, fail, ok, and the
# reset that leaves the private session as the next script expects it) and shared plumbing.
# shellcheck shell=bash disable=SC2034,SC2154 # variables for and from the sourcing scripts

e2e_here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
e2e_shared_dir=${XDG_RUNTIME_DIR:-}/app/K8QW41TR7N.net.brontal.zorvik.mac
latest=$e2e_shared_dir/latest-code.json
e2e_cloud_zone=${XDG_DATA_HOME:-$HOME/.local/share}/net.brontal.zorvik/cloud/iCloud.net.brontal.zorvik/private/_defaultZone
# The line the tray app logs, once, where no tray shows its item.
e2e_no_tray_warning="[warning] net.brontal.zorvik:shell Zorvik: no tray is running on this desktop"
# The scripts play the browser themselves; a sign-in page the app opens goes nowhere.
export BROWSER=true
declare -gA e2e_pids=()
logs=""
e2e_bus_pid=""
failures=0

e2e_skip() { echo "skipped: $*" && exit 77; }
e2e_require_tools() {
    local tool
    for tool; do command -v "$tool" >/dev/null || e2e_skip "$tool is missing (scripts/bootstrap installs it)"; done
}
# Usage: e2e_begin SCRIPT "NAMES" "$@". Skips outside scripts/desktop-session, sets the variables
# NAMES to the arguments, makes $logs, and at exit stops what e2e_start started, then runs the
# script's e2e_on_exit.
e2e_begin() {
    local script=$1 names i
    read -r -a names <<<"$2"
    shift 2
    [[ ${ZORVIK_DESKTOP_SESSION:-} == 1 ]] || e2e_skip "not inside scripts/desktop-session"
    [[ $# -eq ${#names[@]} ]] || { echo "usage: $script ${names[*]^^}" >&2 && exit 2; }
    for ((i = 1; i <= $#; i++)); do printf -v "${names[i - 1]}" %s "${!i}"; done
    logs=$(mktemp -d -p "$ZORVIK_SESSION_DIR" "${script%.sh}-logs.XXXXXX")
    trap e2e_end EXIT
}
e2e_end() {
    local name
    for name in "${!e2e_pids[@]}"; do e2e_stop "$name"; done
    if declare -F e2e_on_exit >/dev/null; then e2e_on_exit; fi
    if [[ -n $e2e_bus_pid ]]; then kill "$e2e_bus_pid" 2>/dev/null || true; fi
}
# Prints what failed, every log, the visible windows (a prompt holding the keyboard, say) and
# where the processes still running are stuck, and exits with 1.
fail() {
    local file pid window
    echo "FAIL: $*"
    for file in "$logs"/*; do [[ -f $file ]] && echo "--- $(basename "$file")" && cat "$file"; done
    echo "--- visible windows"
    for window in $(xdotool search --onlyvisible --name . 2>/dev/null); do
        echo "$window $(xdotool getwindowname "$window" 2>/dev/null)"
    done
    for pid in "${e2e_pids[@]}"; do
        if kill -0 "$pid" 2>/dev/null && command -v gdb >/dev/null; then
            echo "--- threads of pid $pid"
            timeout 60 gdb -p "$pid" -batch -nx -ex "thread apply all bt 15" 2>/dev/null | grep -E "^(Thread|#)" || true
        fi
    done
    exit 1
}
ok() { echo "ok: $*"; }
# A check the script goes on after: verdict NAME PASSED(1/0) MESSAGE. A NAME in $known_failures
# reports XFAIL, and XPASS (a failure) once it passes, so that the list stays true.
verdict() {
    local known=0
    [[ " ${known_failures:-} " == *" $1 "* ]] && known=1
    if (($2 && !known)); then ok "$3"; elif ((!$2 && known)); then echo "XFAIL: $1: $3"; else
        (($2)) && echo "XPASS: $1: $3 (take it off the known failures)" || echo "FAIL: $1: $3"
        failures=$((failures + 1))
    fi
}
verdicts_passed() { ((failures == 0)) || fail "$failures check(s) failed"; }
passes() { if "$@"; then echo 1; else echo 0; fi; }
# Waits up to $1 seconds for the command after it to succeed.
within() {
    local i
    for ((i = 0; i < $1 * 20; i++)); do "${@:2}" && return 0; sleep 0.05; done
    return 1
}
# Usage: expect SECONDS MESSAGE COMMAND...: fails with MESSAGE unless COMMAND succeeds in time.
expect() { within "$1" "${@:3}" || fail "$2"; }

# Usage: e2e_start NAME COMMAND...: runs COMMAND in the background, its output in
# $logs/NAME.log, its pid ${e2e_pids[NAME]}; the harness stops it at exit unless e2e_stop did.
e2e_start() {
    "${@:2}" >>"$logs/$1.log" 2>&1 &
    e2e_pids[$1]=$!
}
e2e_stop_process() { if [[ -n $1 ]]; then kill "$1" 2>/dev/null || true; wait "$1" 2>/dev/null || true; fi; }
e2e_stop() {
    local pid=${e2e_pids[$1]:-}
    unset "e2e_pids[$1]"
    e2e_stop_process "$pid"
}
# Sends NAME's process SIGNAL (TERM by default, 0 when it ends by itself) and fails unless it
# exits with 0.
e2e_stop_clean() {
    local pid=${e2e_pids[$1]} status=0
    unset "e2e_pids[$1]"
    kill "-${2:-TERM}" "$pid" 2>/dev/null || true
    wait "$pid" || status=$?
    ((status == 0)) || fail "$1 exited with status $status (signal ${2:-TERM})"
}
gone() { ! kill -0 "$1" 2>/dev/null; }
# Whether process $1 runs (a zombie has ended).
e2e_alive() {
    local stat
    read -r stat 2>/dev/null <"/proc/$1/stat" && [[ ${stat##*) } != Z* ]]
}
# Usage: e2e_start_at_terminal DIR OUT COMMAND...: runs COMMAND on a terminal of its own (files in
# DIR, output appended to OUT), as a user at a terminal does. Lines written to e2e_terminal_keys
# are typed there; e2e_terminal_pid is the command's own process.
e2e_start_at_terminal() {
    local dir=$1 out=$2 command
    [[ -n ${e2e_terminal_keys:-} ]] && exec {e2e_terminal_keys}>&-
    rm -f "$dir/terminal.keys" "$dir/terminal.pid"
    mkfifo "$dir/terminal.keys"
    # Read-write, so that opening it does not wait for `script`, and `script` never reads an end.
    exec {e2e_terminal_keys}<>"$dir/terminal.keys"
    printf -v command '%q ' "${@:3}"
    SHELL=/bin/bash script -qfec "echo \$\$ >'$dir/terminal.pid'; exec $command" /dev/null \
        <"$dir/terminal.keys" >>"$out" 2>&1 &
    within 10 test -s "$dir/terminal.pid" || return 1
    e2e_terminal_pid=$(cat "$dir/terminal.pid")
}

# A session bus of the script's own, ended at exit: sets e2e_bus_address.
e2e_private_bus() {
    read -r e2e_bus_address e2e_bus_pid < <(dbus-daemon --session --fork --nopidfile \
        --print-address=1 --print-pid=1 | paste -sd ' ')
    [[ -n $e2e_bus_address && -n $e2e_bus_pid ]] || fail "no private bus could be started"
}
# Usage: e2e_bus_config FILE TYPE SOCKET [ELEMENTS]: a bus where anyone may own and send anything.
e2e_bus_config() {
    cat >"$1" <<XML
<busconfig><type>$2</type><keep_umask/><listen>unix:path=$3</listen>${4:-}<auth>EXTERNAL</auth>
  <policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/><allow own="*"/></policy>
</busconfig>
XML
}
bus_call() { gdbus call --session --timeout 10 "$@" 2>/dev/null; }
# The process that owns the name $1 on the session bus ("" when none does).
bus_owner_pid() {
    bus_call -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.GetConnectionUnixProcessID "$1" | sed -nE 's/^\(uint32 ([0-9]+),\)$/\1/p'
}
bus_has_owner() { [[ -n $(bus_owner_pid "$1") ]]; }
bus_lacks_owner() { ! bus_has_owner "$1"; }
watcher_property() {
    bus_call -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher "$1"
}
tray_host_registered() { [[ $(watcher_property IsStatusNotifierHostRegistered) == "(<true>,)" ]]; }
# The bus name of process $1's status item as the tray watcher lists it.
item_of() { watcher_property RegisteredStatusNotifierItems | grep -o "org\.kde\.StatusNotifierItem-$1-[0-9]*" | head -n 1; }
item_listed() { [[ -n $(item_of "$1") ]]; }
item_property() {
    local item
    item=$(item_of "$1") && [[ -n $item ]] &&
        bus_call -d "$item" -o /StatusNotifierItem -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierItem "$2"
}
item_label_is() { [[ $(item_property "$1" XAyatanaLabel) == "(<'$2'>,)" ]]; }
# A click on process $1's item (at X $2, Y $3).
item_activate() {
    bus_call -d "$(item_of "$1")" -o /StatusNotifierItem -m org.kde.StatusNotifierItem.Activate "${2:-0}" "${3:-0}" >/dev/null
}
# Prints what the command after it prints once two calls in a row agree (2 s at most): a window
# is placed as it is shown.
steady() {
    local previous="" output i
    for ((i = 0; i < 40; i++)); do
        output=$("$@" 2>/dev/null) || output=""
        [[ -n $output && $output == "$previous" ]] && echo "$output" && return 0
        previous=$output
        sleep 0.05
    done
    return 1
}
# Prints the first visible window of process $1 once it has one, waiting up to $2 seconds.
e2e_visible_window() {
    local i window
    for ((i = 0; i < $2 * 20; i++)); do
        # xdotool fails when some window goes away while it looks; it is simply asked again.
        window=$(xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1) || true
        [[ -n $window ]] && echo "$window" && return 0
        sleep 0.05
    done
    return 1
}
no_window_of() { [[ -z $(xdotool search --onlyvisible --pid "$1" 2>/dev/null) ]]; }
# Whether the keyboard is on a visible window of process $1 (the popover may be shown again under
# a new window id).
e2e_has_keyboard() {
    local focus
    focus=$(xdotool getwindowfocus 2>/dev/null) && xdotool search --onlyvisible --pid "$1" 2>/dev/null | grep -qx -- "$focus"
}

logged() { grep -qsF -- "$2" "$logs/$1.log"; }
# Without journald the app writes every log line to stderr.
e2e_journal_listens() { [[ -S /run/systemd/journal/socket ]]; }
# Fails when a log holds one of the codes given, with or without a space in its middle.
e2e_expect_no_code_in_logs() {
    local code
    for code; do grep -rqE -- "${code:0:3} ?${code:3}" "$logs" && fail "the code $code reached a log line"; done
    ok "no log line holds a code"
}
clipboard() { xclip -selection clipboard -o 2>/dev/null; }
clipboard_is() { [[ $(clipboard) == "$1" ]]; }
# xclip may wait for an owner that never answers.
x11_clipboard_is() { [[ $(timeout 2 xclip -o -selection clipboard 2>/dev/null) == "$1" ]]; }
wayland_clipboard() { wl-paste --no-newline 2>/dev/null || true; }
wayland_clipboard_is() { [[ $(wayland_clipboard) == "$1" ]]; }
wayland_clipboard_is_not() { [[ $(wayland_clipboard) != "$1" ]]; }
# Whether the types $1 hold both hints that keep a code out of clipboard histories.
concealed() {
    local types=" ${1//$'\n'/ } "
    [[ $types == *" org.nspasteboard.ConcealedType "* && $types == *" x-kde-passwordManagerHint "* ]]
}
expect_wayland_concealed() { concealed "$(wl-paste --list-types)" || fail "not marked concealed: $(wl-paste --list-types)"; }
a_notification_shows() { (($(dunstctl count displayed 2>/dev/null) >= 1)); }
no_notification_shows() { (($(dunstctl count displayed 2>/dev/null) == 0)); }

# Stops the owner of the bus name $1, a peer of the session logging to logs/$2.log, remembering
# how it was started; returns 1 when none owns it.
declare -gA e2e_stopped_peers=()
e2e_stop_peer() {
    local pid
    pid=$(bus_owner_pid "$1")
    [[ -n $pid ]] || return 1
    e2e_stopped_peers[$1]="$2|$(tr '\0' '\037' <"/proc/$pid/cmdline")"
    kill "$pid"
    expect 20 "$1 did not go away" bus_lacks_owner "$1"
}
# Starts the peers named (all by default) that e2e_stop_peer stopped again, as they were started
# (the keyring reading its password); returns 1 when one did not come back.
# shellcheck disable=SC2120 # all of them without arguments
e2e_restore_peers() {
    local names=("$@") name log cmdline args input status=0
    ((${#names[@]})) || names=("${!e2e_stopped_peers[@]}")
    for name in "${names[@]}"; do
        IFS='|' read -r log cmdline <<<"${e2e_stopped_peers[$name]}"
        IFS=$'\037' read -r -a args <<<"${cmdline%$'\037'}"
        unset "e2e_stopped_peers[$name]"
        input=/dev/null
        [[ $name == org.freedesktop.secrets ]] && input=$ZORVIK_SESSION_DIR/keyring-password
        # A desktop's own peer may still be letting go of the name.
        if ! within 10 bus_lacks_owner "$name"; then
            echo "FAIL: $name is still owned, so its peer cannot be told to have come back"
            status=1
            continue
        fi
        setsid "${args[@]}" <"$input" >>"$ZORVIK_SESSION_DIR/logs/$log.log" 2>&1 &
        within 10 bus_has_owner "$name" || { echo "FAIL: the session's $log did not come back" && status=1; }
        if [[ $name == org.kde.StatusNotifierWatcher ]] && ! within 10 tray_host_registered; then
            echo "FAIL: the session's $log reports no host" && status=1
        fi
    done
    return "$status"
}

# --- The app ($app_binary) and the phone tool ($phone).
# Settings of the script's own, so nothing reaches later tests (and a first run is a first run).
e2e_own_config() {
    XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" config.XXXXXX)
    export XDG_CONFIG_HOME
}
# A returning user has seen the first-run popover, which opens by itself.
e2e_returning_user() {
    mkdir -p "$XDG_CONFIG_HOME/net.brontal.zorvik"
    printf '[General]\nfirstRunDone=true\n' >"$XDG_CONFIG_HOME/net.brontal.zorvik/ZorvikMac.conf"
}
app_checked() { expect 20 "$1: the app did not finish its checks" logged "$1" "check firstCode:"; }
# Usage: start_app NAME ARGS...: starts the app and waits for its first round of checks.
start_app() {
    e2e_start "$1" "$app_binary" "${@:2}"
    app_checked "$1"
}
# The same with --headless and no display, whose clipboard is its own.
start_headless() {
    e2e_start "$1" env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless "${@:2}"
    app_checked "$1"
}
# Usage: take_over OLD NEW COMMAND...: starts copy NEW while OLD runs; OLD must end, both say why.
take_over() {
    local old=$1 new=$2 old_pid=${e2e_pids[$1]}
    e2e_start "$new" "${@:3}"
    expect 10 "$old still runs beside $new" gone "$old_pid"
    e2e_stop "$old"
    # The notice and the signal race; the older copy logs whichever reached it first.
    grep -Eq "Zorvik: (a newer copy \(pid ${e2e_pids[$new]}\) took over|quitting on SIGTERM)" "$logs/$old.log" ||
        fail "$old did not log why it quit"
    expect 2 "$new did not log the take-over" grep -q "Zorvik: asking the older copy at .* (pid $old_pid) to quit" "$logs/$new.log"
}
# Usage: send_code CODE [TTL [PHONE ARGS...]]: a code for $account ("Work GitHub" by default).
send_code() {
    "$phone" send --account "${account:-Work GitHub}" --service github --code "$1" --ttl "${2:-120}" "${@:3}" 2>/dev/null
}
# A new sync key, in a keyring that may still be starting with the session.
store_sync_key() { within 15 "$phone" key generate --force >/dev/null 2>&1 || fail "no sync key could be stored"; }
published() { grep -qsF "\"code\":\"$1\"" "$latest"; }
# No record, published code, key or notification left over. $1 is zorvik-phone.
e2e_reset_session() {
    "$1" clear 2>/dev/null || true
    rm -f "$e2e_cloud_zone/key-handoff.json" "$e2e_shared_dir"/latest-code.*
    "$1" key delete 2>/dev/null || true
    dunstctl close-all 2>/dev/null || true
}

# --- The cloud's web service, played by the double $1 (its files in $2): sets url, cloud_flags and
# sign_in_port (where the app takes the session back at sign-in).
web_double_start() {
    sign_in_port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    e2e_start double python3 "$1" --port-file "$2/url" --api-token test-api-token \
        --callback "http://127.0.0.1:$sign_in_port/zorvik-signin" --courier-hold 5
    expect 10 "the double did not start" test -s "$2/url"
    url=$(cat "$2/url")
    cloud_flags=(--cloud-url "$url" --cloud-api-token test-api-token)
}
state() { curl -fsS "$url/_double/state"; }
fault() { curl -fsS -X POST -d "$1" "$url/_double/faults" >/dev/null; }
no_faults() { curl -fsS -X DELETE "$url/_double/faults" >/dev/null; }
spent_tokens() { state | python3 -c 'import json, sys; print(sum(r["token"] == "used" for r in json.load(sys.stdin)["requests"]))'; }
web_forget_session() {
    secret-tool clear service net.brontal.zorvik.cloudkit account web-auth-token 2>/dev/null || true
    rm -f "${XDG_DATA_HOME:-$HOME/.local/share}/net.brontal.zorvik/cloudkit-subscriptions.json"
}
# The app with ARGS at a terminal ($work holds its files), logged as "app".
start_app_at_terminal() {
    e2e_start_at_terminal "$work" "$logs/app.log" "$app_binary" "$@" || fail "the app did not start at a terminal"
    e2e_pids[app]=$e2e_terminal_pid
}
type_in() { echo "$1" >&"$e2e_terminal_keys"; }
# Stops "app", also at a terminal, where it is no child of this shell.
stop_app() {
    local pid=${e2e_pids[app]}
    e2e_stop app
    within 10 gone "$pid" || true
}
# Signs in to the double at a terminal, as the user does, and lets the app quit.
web_sign_in() {
    start_app_at_terminal --headless --log-to-stderr "${cloud_flags[@]}" --sign-in-port "$sign_in_port" --sign-in
    expect 10 "the app did not offer the sign-in page" grep -q "sign-in: open .* in a browser" "$logs/app.log"
    curl -fsSL "$(grep -o "sign-in: open [^ ]* in a browser" "$logs/app.log" | head -n 1 | cut -d' ' -f3)" >/dev/null ||
        fail "the browser could not follow the sign-in page"
    expect 10 "the terminal did not ask about the account" logged app "with the account user@example.com"
    type_in yes
    expect 10 "the app did not sign in" logged app "check cloud: ok — iCloud: signed in"
    stop_app
}

# --- Compositors and desktops of their own.
# Writes $1/env-writer.sh, which a compositor runs as any program (`sh FILE ENV`): it writes the
# session's variables to ENV, its pid to ENV.pid, and waits.
e2e_write_env_writer() {
    # shellcheck disable=SC2016 # for the script's shell
    printf '%s\n' 'echo $$ >"$1.pid"' 'env >"$1.part" && mv -- "$1.part" "$1"' 'exec sleep 600' >"$1/env-writer.sh"
}
# Exports the variables named after the environment file $1; fails when one is missing.
e2e_import_env() {
    local name line
    for name in "${@:2}"; do
        line=$(grep -m 1 "^$name=" -- "$1") || fail "the session has no $name"
        export "${line?}"
    done
}
# Ends the env-writer.sh of the environment file $1, which outlives its compositor.
e2e_stop_env_writer() { if [[ -s $1.pid ]]; then kill "$(<"$1.pid")" 2>/dev/null || true; fi; }
# Removes the socket and lock file an XWayland leaves behind for display $1, when user $2 owns them.
e2e_remove_x_display() {
    local file
    for file in "/tmp/.X11-unix/X$1" "/tmp/.X$1-lock"; do
        if [[ $(stat -c %u -- "$file" 2>/dev/null) == "$2" ]]; then rm -f -- "$file"; fi
    done
}
# Usage: e2e_as_unprivileged_user SCREENSHOT_VARIABLE SCRIPT BINARY...: for the compositors that
# refuse to run as root (sway, KWin). As root, runs this folder's SCRIPT again as the user nobody
# in a private desktop session of that user's own, with copies of the binaries, and exits with its
# status, bringing back the screenshot asked for at the path in SCREENSHOT_VARIABLE. As any other
# user it returns at once.
e2e_as_unprivileged_user() {
    [[ $(id -u) -eq 0 ]] || return 0
    local variable=$1 script=$2 binary status=0 stage copies=()
    local screenshot=${!variable:-}
    stage=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-${script%.sh}.XXXXXX")
    # shellcheck disable=SC2064 # the stage is known now
    trap "rm -rf -- '$stage'" EXIT
    for binary in "${@:3}"; do
        cp -- "$binary" "$stage/"
        copies+=("$stage/$(basename -- "$binary")")
        # The AutoFill helper finds its panel's module beside itself.
        cp -- "$(dirname -- "$binary")/zorvik-autofill-panel.so" "$stage/" 2>/dev/null || true
    done
    cp -- "$e2e_here"/*.sh "$e2e_here"/*.py "$e2e_here/../../scripts/desktop-session" "$e2e_here/../support/lsan.supp" "$stage/"
    chmod -R a+rX -- "$stage"
    mkdir -- "$stage/out"
    chown -- nobody "$stage/out"
    # Nothing of root's session (display, bus, keyring, directories) goes along.
    env -u DISPLAY -u XAUTHORITY -u DBUS_SESSION_BUS_ADDRESS -u ZORVIK_TRAY_WATCHER -u ZORVIK_SESSION_DIR \
        -u ZORVIK_DESKTOP_SESSION -u TMPDIR ${screenshot:+"$variable=$stage/out/screen.png"} \
        LSAN_OPTIONS="suppressions=$stage/lsan.supp:print_suppressions=0" \
        setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups \
        "$stage/desktop-session" "$stage/$script" "${copies[@]}" || status=$?
    if [[ -n $screenshot && -s $stage/out/screen.png ]]; then cp -- "$stage/out/screen.png" "$screenshot"; fi
    exit "$status"
}

# The AutoFill panel asked for by a browser that has the keyboard, on native Wayland and on
# XWayland (as for a user who sets QT_QPA_PLATFORM=xcb): it must come up in front with the
# keyboard, and Return press the configuration panel's Done, Escape the waiting panel's Cancel.
# The script defines focus_browser, focused (the focused window, for messages), focused_is TITLE,
# has_window TITLE and press_key KEY, and sets panel_run (what starts the helper as the browser
# does) and panel_dir (for its pipes).
autofill_panel_checks() {
    local how settings=()
    for how in "native Wayland" XWayland; do
        autofill_panel_round "$how" Return '"result":"configurationCompleted"' '{"id":1,"type":"prepareConfiguration"}' "${settings[@]}"
        autofill_panel_round "$how" Escape '"code":1,' \
            '{"id":2,"type":"prepareInterfaceToProvide","site":"github.com","request":{"type":3,"credentialIdentity":{"serviceIdentifier":{"identifier":"github.com","type":"domain"}}}}' \
            "${settings[@]}"
        settings=(QT_QPA_PLATFORM=xcb)
    done
    verdicts_passed
}
answered() { grep -aq -- "$1" "$panel_dir/answers"; }
autofill_panel_round() {
    local how=$1 key=$2 wanted=$3 request=$4 attempt
    focus_browser
    within 5 focused_is Browser || fail "the browser does not have the keyboard: $(focused)"
    rm -f -- "$panel_dir/in" "$panel_dir/answers"
    mkfifo -m 0644 "$panel_dir/in"
    # Its answers go apart from its log.
    "${panel_run[@]}" "${@:5}" "$autofill" chrome-extension://pefndcdalefolcllbmhdfnidbfjfjkgc/ \
        <"$panel_dir/in" >"$panel_dir/answers" 2>>"$logs/helper.log" &
    e2e_pids[helper]=$!
    exec 3>"$panel_dir/in"
    e2e_native_message "$request" >&3
    expect 10 "$how: the panel did not come up" has_window Zorvik
    verdict "$how keyboard" "$(passes within 3 focused_is Zorvik)" "$how: the panel has the keyboard (the focused window is $(focused))"
    # A user types a moment after the panel appears, and presses a key again that came before
    # the window took keys, as it can on a loaded machine.
    sleep 0.3
    for ((attempt = 1; attempt <= 3; attempt++)); do
        press_key "$key"
        within 2 answered "$wanted" && break
        focused_is Zorvik || break
    done
    verdict "$how $key" "$(passes answered "$wanted")" \
        "$how: $key typed then reached the panel (answers: $(tr -cd '[:print:]' <"$panel_dir/answers"))"
    exec 3>&-
    within 5 gone "${e2e_pids[helper]}" || true
    e2e_stop helper
}
# $1 as one native-messaging frame: its length in four bytes (this machine's order, little-endian
# here), then the JSON.
e2e_native_message() {
    local n=${#1}
    printf "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((n & 255)) $((n >> 8 & 255)) $((n >> 16 & 255)) $((n >> 24 & 255)))%s" "$1"
}
