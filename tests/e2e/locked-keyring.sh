#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end inside the private desktop session, with the keyring locked as an automatic login
# leaves it: ZorvikMac --headless says so once in plain words (the checklist's sync-key row reads
# "Keyring locked"), with no error line per poll; once the user unlocks the keyring in another
# application through the keyring's own password prompt, the waiting code reaches
# latest-code.json without a restart.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin locked-keyring.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
export QT_QPA_PLATFORM=xcb
XDG_CONFIG_HOME=$(mktemp -d -p "$ZORVIK_SESSION_DIR" locked-config.XXXXXX)
export XDG_CONFIG_HOME
latest=$e2e_shared_dir/latest-code.json
key=$(mktemp -p "$ZORVIK_SESSION_DIR" locked-key.XXXXXX)
lookup=""

secrets() {
    gdbus call --session -d org.freedesktop.secrets "$@"
}
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
    if collection_locked 2>/dev/null; then
        unlock_through_the_prompt || true
    fi
    e2e_reset_session "$phone"
}

e2e_reset_session "$phone"
"$phone" key generate --force 2>/dev/null
"$phone" key export | base64 -d >"$key"
secrets -o /org/freedesktop/secrets -m org.freedesktop.Secret.Service.Lock \
    "['$(default_collection)']" >/dev/null
collection_locked || fail "the keyring did not lock"
# The phone has the key; only this desktop's copy is behind the lock.
"$phone" send --key-file "$key" --account "Work GitHub" --service github --code 271828 \
    --ttl 120 2>/dev/null

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
expect 15 "the waiting code did not reach latest-code.json after the unlock" \
    grep -qs '"code":"271828"' "$latest"
logged app "keyring unlocked" || fail "the unlock was not logged"
kill -0 "${e2e_pids[app]}" || fail "the app is gone"
ok "unlocked in another application, the code flows without a restart"
logged app 271828 && fail "the code reached a log line"
ok "the code never reached the log"
