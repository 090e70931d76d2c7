#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Copies of ZorvikMac --headless started at the same moment, as autostart and a click on the menu
# entry can, leave exactly one copy running, which receives the next code: 20 trials each of 2
# and of 3 copies.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin twin-starts.sh "app_binary phone" "$@"
trials=${ZORVIK_TWIN_TRIALS:-20}
e2e_own_config
e2e_on_exit() { e2e_reset_session "$phone"; }
alive() {
    local pid count=0
    for pid in "${e2e_pids[@]}"; do
        if kill -0 "$pid" 2>/dev/null; then count=$((count + 1)); fi
    done
    echo "$count"
}
at_most_one_alive() { (($(alive) <= 1)); }

e2e_reset_session "$phone"
store_sync_key
code=100000
for copies in 2 3; do
    for ((trial = 1; trial <= trials; trial++)); do
        rm -f "$logs"/*
        for ((i = 1; i <= copies; i++)); do e2e_start "copy-$i" "$app_binary" --headless; done
        what="$copies copies, trial $trial"
        within 30 at_most_one_alive || fail "$what: $(alive) copies still run"
        [[ $(alive) == 1 ]] || fail "$what: no copy is left"
        expect 20 "$what: the remaining copy did not finish its checks" grep -q "check firstCode:" "$logs"/copy-*.log
        code=$((code + 1))
        account="Twin $trial" send_code "$code" 60
        expect 15 "$what: the remaining copy did not receive the code" grep -q "received Twin $trial from" "$logs"/copy-*.log
        [[ $(alive) == 1 ]] || fail "$what: $(alive) copies run after the code"
        for name in "${!e2e_pids[@]}"; do e2e_stop "$name"; done
        "$phone" clear 2>/dev/null || true
    done
    ok "$trials trials of $copies copies started together left one copy, which received the code"
done
