#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end inside the private desktop session: copies of ZorvikMac --headless started at the
# same moment, as autostart and a click on the menu entry can, leave exactly one copy running,
# whatever the timing, and that copy receives the next code. 20 trials of 2 and of 3 copies.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin twin-starts.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
trials=${ZORVIK_TWIN_TRIALS:-20}
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" twin-config.XXXXXX)
export XDG_CONFIG_HOME
e2e_on_exit() { e2e_reset_session "$phone"; }

alive() {
    local pid count=0
    for pid in "${e2e_pids[@]}"; do
        kill -0 "$pid" 2>/dev/null && count=$((count + 1))
    done
    echo "$count"
}
at_most_one_alive() { [[ $(alive) -le 1 ]]; }
survivor() {
    local pid
    for pid in "${e2e_pids[@]}"; do
        if kill -0 "$pid" 2>/dev/null; then
            echo "$pid"
        fi
    done
}
stop_all() {
    local name
    for name in "${!e2e_pids[@]}"; do
        e2e_stop "$name"
    done
}

e2e_reset_session "$phone"
# The keyring may still be starting with the session.
within 15 "$phone" key generate --force >/dev/null 2>&1 || fail "no sync key could be stored"
code=100000
for copies in 2 3; do
    for ((trial = 1; trial <= trials; trial++)); do
        rm -f "$logs"/*
        for ((i = 1; i <= copies; i++)); do
            e2e_start "copy-$i" "$app_binary" --headless
        done
        within 30 at_most_one_alive || fail "$copies copies, trial $trial: $(alive) copies still run"
        [[ $(alive) == 1 ]] || fail "$copies copies, trial $trial: no copy is left"
        pid=$(survivor)
        expect 20 "$copies copies, trial $trial: the remaining copy did not finish its checks" \
            grep -q "check firstCode:" "$logs"/copy-*.log
        code=$((code + 1))
        "$phone" send --account "Twin $trial" --service github --code "$code" --ttl 60 2>/dev/null
        expect 15 "$copies copies, trial $trial: the remaining copy (pid $pid) did not receive the code" \
            grep -q "received Twin $trial from" "$logs"/copy-*.log
        [[ $(alive) == 1 ]] || fail "$copies copies, trial $trial: $(alive) copies run after the code"
        stop_all
        "$phone" clear 2>/dev/null || true
    done
    ok "$trials trials of $copies copies started together left one copy, which received the code"
done
