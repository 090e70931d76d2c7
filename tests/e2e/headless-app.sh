# Sourced after session.sh by the scripts that start ZorvikMac --headless one copy at a time,
# each start under a name. They get a work folder of their own ($work; each start's log in
# $logs/NAME.log; the app's settings in $work/config, so nothing reaches later tests) and the
# helpers around the running copy ($app).
# shellcheck shell=bash

# Usage: e2e_headless_setup SCRIPT_NAME ZORVIKMAC
e2e_headless_setup() {
    work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" "$1.XXXXXX")
    app_binary=$2
    logs=$work/logs
    mkdir -p "$logs"
    XDG_CONFIG_HOME=$work/config
    export XDG_CONFIG_HOME
    # shellcheck disable=SC2154 # set by session.sh, sourced first
    latest=$e2e_shared_dir/latest-code.json
    app=""
}

fail() {
    echo "FAIL: $*"
    e2e_print_logs "$logs"
    exit 1
}

# Whether the start named $1 has logged the text $2.
logged() { grep -qsF -- "$2" "$logs/$1.log"; }

# Whether latest-code.json offers the code $1.
published() { grep -qsF "\"code\":\"$1\"" "$latest"; }

# Starts the app as NAME and waits for its first round of checks. Without a display its
# clipboard is its own, so no other test's is touched.
start_app() {
    local name=$1
    env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless >"$logs/$name.log" 2>&1 &
    app=$!
    within 20 logged "$name" "check firstCode:" || fail "$name: the app did not finish its checks"
}

# Stops the running copy, if any; returns its exit status.
stop_app() {
    [[ -n $app ]] || return 0
    kill "$app" 2>/dev/null || true
    local status=0
    wait "$app" 2>/dev/null || status=$?
    app=""
    return "$status"
}

# A fresh sync key for the phone tool $1 and the app; the keyring may still be starting with
# the session.
e2e_store_sync_key() {
    within 15 "$1" key generate --force >/dev/null 2>&1 || fail "no sync key could be stored"
}
