# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced after session.sh by the scripts that start ZorvikMac --headless ($app_binary) one copy
# at a time, each under a name, with the phone tool $phone. Settings of their own, so nothing
# they do reaches the settings of later tests.
# shellcheck shell=bash disable=SC2154 # $app_binary and $phone are the sourcing script's

XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" config.XXXXXX)
export XDG_CONFIG_HOME
latest=$e2e_shared_dir/latest-code.json

# Starts the app as NAME and waits for its first round of checks. Without a display its
# clipboard is its own, so no other test's is touched.
start_app() {
    e2e_start "$1" env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless
    expect 20 "$1: the app did not finish its checks" logged "$1" "check firstCode:"
}

# Stops the copy started as NAME; returns its exit status.
stop_app() {
    local pid=${e2e_pids[$1]} status=0
    unset "e2e_pids[$1]"
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || status=$?
    return "$status"
}

store_sync_key() { "$phone" key generate --force >/dev/null 2>&1; }

# Whether latest-code.json offers the code $1.
published() { grep -qsF "\"code\":\"$1\"" "$latest"; }
