#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The keyring locked as an automatic login leaves it: ZorvikMac --headless says so once in plain
# words, with no error line per poll; once the user unlocks it in another application through the
# keyring's own prompt, the waiting code is published without a restart.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin locked-keyring.sh "app_binary phone" "$@"
export QT_QPA_PLATFORM=xcb
e2e_own_config
key=$(mktemp -p "$ZORVIK_SESSION_DIR" locked-key.XXXXXX)
lookup=""

secrets() { bus_call -d org.freedesktop.secrets "$@"; }
default_collection() {
    secrets -o /org/freedesktop/secrets -m org.freedesktop.Secret.Service.ReadAlias default |
        grep -o "/org/freedesktop/secrets/collection/[A-Za-z0-9_]*"
}
collection_locked() {
    [[ $(secrets -o "$(default_collection)" -m org.freedesktop.DBus.Properties.Get \
        org.freedesktop.Secret.Collection Locked) == "(<true>,)" ]]
}
# The keyring's prompt, answered as the user would. Keys sent before the prompt holds the
# keyboard go elsewhere, so the password is typed again every few seconds while it stays; the
# answer is the lookup ending, however long it takes after the prompt has gone.
unlock_through_the_prompt() {
    secret-tool lookup service net.brontal.zorvik.sync account sync-key >/dev/null 2>&1 &
    lookup=$!
    local started=$SECONDS typed_at=-10 shown=0
    while kill -0 "$lookup" 2>/dev/null; do
        ((shown || SECONDS - started < 10)) || fail "the keyring's prompt did not show"
        ((SECONDS - started < 30)) || fail "the prompt did not finish"
        if ((SECONDS - typed_at >= 3)) &&
            xdotool search --onlyvisible --name "Unlock Login Keyring" >/dev/null 2>&1; then
            shown=1
            sleep 0.3 # it takes the keyboard once it is drawn
            xdotool search --onlyvisible --name "Unlock Login Keyring" windowfocus --sync \
                >/dev/null 2>&1 || true
            xdotool key ctrl+a
            xdotool type --delay 10 "$(cat "$ZORVIK_SESSION_DIR/keyring-password")"
            xdotool key Return
            typed_at=$SECONDS
        fi
        sleep 0.1
    done
}
e2e_on_exit() {
    if [[ -n $lookup ]]; then kill "$lookup" 2>/dev/null || true; fi
    # The next tests expect the keyring open.
    if collection_locked 2>/dev/null; then unlock_through_the_prompt || true; fi
    e2e_reset_session "$phone"
}

e2e_reset_session "$phone"
"$phone" key generate --force 2>/dev/null
"$phone" key export | base64 -d >"$key"
secrets -o /org/freedesktop/secrets -m org.freedesktop.Secret.Service.Lock "['$(default_collection)']" >/dev/null
collection_locked || fail "the keyring did not lock"
# The phone has the key; only this desktop's copy is behind the lock.
send_code 271828 120 --key-file "$key"

e2e_start app "$app_binary" --headless
expect 15 "the app did not say that the keyring is locked" \
    logged app "keyring locked: codes wait until it is unlocked"
expect 15 "the sync-key row does not read Keyring locked" logged app "check syncKey: failed — Keyring locked"
ok "the locked keyring is told once, in plain words"

# Two more background polls (every 5 s) while locked: no new line, no error.
sleep 11
[[ $(grep -cF "keyring locked: codes wait" "$logs/app.log") == 1 ]] || fail "the locked keyring was told more than once"
grep -qE "\[error\]|fetch failed|-25308" "$logs/app.log" && fail "a locked keyring was logged as an error"
[[ -e $latest ]] && fail "a code was published without the key"
ok "polling stays quiet while the keyring is locked"

unlock_through_the_prompt
collection_locked && fail "the keyring is still locked"
# The keyring's signal drops what the app knew; the next poll (every 5 s) reads the key.
expect 15 "the waiting code was not published after the unlock" published 271828
logged app "keyring unlocked" || fail "the unlock was not logged"
kill -0 "${e2e_pids[app]}" || fail "the app is gone"
ok "unlocked in another application, the code flows without a restart"
e2e_expect_no_code_in_logs 271828
