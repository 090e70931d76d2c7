#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# End to end inside the private desktop session, around what ZorvikMac --headless finds in place
# of its files:
#  - garbage, a truncated file, an empty file, a folder or a symbolic link in place of each file
#    it keeps: it starts, a link's target is left as it was, and the next code is published
#    whole (a folder in place of latest-code.json is logged as a failed save instead);
#  - a garbage record and a 100 MB record in the cloud folder: logged, and the next code
#    published; a cloud folder that cannot be read: named in the cloud row;
#  - SIGKILL at random moments while it saves codes: latest-code.json is never torn.
set -euo pipefail

# shellcheck source=tests/e2e/session.sh
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin shared-files.sh "ZORVIKMAC ZORVIK_PHONE" "$@"
app_binary=$1
phone=$2
# shellcheck source=tests/e2e/headless-app.sh
source "$(dirname "${BASH_SOURCE[0]}")/headless-app.sh"
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" shared-files.XXXXXX)
# Settings of its own, so nothing this test does reaches the settings of later tests.
record=$e2e_cloud_zone/pending-code.json
victim=$work/victim.txt
sent=0
e2e_on_exit() { e2e_reset_session "$phone"; }

# Starts the app as NAME and waits for its first round of checks. Without a display its
# clipboard is its own, so no other test's is touched.
# Stops the copy started as NAME; returns its exit status.
send_code() {
    sent=$((sent + 1))
    "$phone" send --account "Files $sent" --service github --code "$1" --ttl 120 2>/dev/null
}
# Published as a regular file of its own, readable by the user alone.
published_whole() {
    [[ -f $latest && ! -L $latest ]] && grep -qF "\"code\":\"$1\"" "$latest" &&
        [[ $(stat -c %a "$latest") == 600 ]]
}
victim_untouched() {
    [[ $(cat "$victim") == "the user's own notes" && $(stat -c %a "$victim") == 644 ]]
}
# Puts KIND (garbage, truncated, empty, folder, link) at PATH.
place() {
    local kind=$1 path=$2
    rm -rf "$path"
    mkdir -p "$(dirname "$path")"
    case $kind in
        garbage) printf '\x00\xff{not json at all' >"$path" ;;
        truncated) printf '{"accountName":"Work","code":"12' >"$path" ;;
        empty) : >"$path" ;;
        folder) mkdir -p "$path/inside" ;;
        link) ln -s "$victim" "$path" ;;
    esac
}

e2e_reset_session "$phone"
# The keyring may still be starting with the session.
expect 15 "no sync key could be stored" store_sync_key
printf "the user's own notes" >"$victim"
chmod 644 "$victim"

files=(
    "$latest"
    "$e2e_shared_dir/latest-code.filled"
    "$e2e_shared_dir/credential-identities.json"
    "${XDG_DATA_HOME:-$HOME/.local/share}/net.brontal.zorvik/connected-browsers.json"
    "$XDG_CONFIG_HOME/net.brontal.zorvik/ZorvikMac.conf"
)
code=300000
for file in "${files[@]}"; do
    for kind in garbage truncated empty folder link; do
        name="$(basename "$file")-$kind"
        place "$kind" "$file"
        start_app "$name"
        code=$((code + 1))
        send_code "$code"
        if [[ $file == "$latest" && $kind == folder ]]; then
            expect 15 "$name: the failed save was not logged" \
                logged "$name" "could not save the code for AutoFill: "
            [[ -d $file/inside ]] || fail "$name: the folder in the way was touched"
        else
            expect 15 "$name: the next code was not published whole" published_whole "$code"
        fi
        victim_untouched || fail "$name: the link's target was changed"
        # The files the app itself writes at start or with a code replace a link by a file.
        if [[ $kind == link && -L $file && ($file == "$latest" || $file == *.conf) ]]; then
            fail "$name: the link is still there"
        fi
        stop_app "$name" || fail "$name: the app did not end cleanly"
        rm -rf "$file"
        rm -f "$latest"
    done
done
ok "garbage, truncated, empty, a folder and a link in place of each of its ${#files[@]} files: no crash, no link followed, the next code published"

# The cloud folder's record: garbage, then 100 MB (sparse), each followed by a real code.
for kind in garbage huge; do
    start_app "record-$kind"
    if [[ $kind == garbage ]]; then
        printf '{"recordName": 12, garbage' >"$record.tmp"
    else
        truncate -s 100M "$record.tmp"
    fi
    mv "$record.tmp" "$record"
    expect 15 "record-$kind: the bad record was not logged" logged "record-$kind" "fetch failed: "
    code=$((code + 1))
    send_code "$code"
    expect 15 "record-$kind: the next code was not published" published_whole "$code"
    stop_app "record-$kind" || fail "record-$kind: the app did not end cleanly"
done
ok "a garbage and a 100 MB record are logged, and the next code is published"

# A cloud folder whose records cannot be read (a file in its place: root reads any folder) is
# named in the cloud row, not "signed in".
mv "$e2e_cloud_zone" "$work/zone"
: >"$e2e_cloud_zone"
start_app unreadable-cloud
logged unreadable-cloud "check cloud: failed — Local cloud: the cloud folder $e2e_cloud_zone cannot be read" ||
    fail "unreadable-cloud: the cloud row did not name the folder"
stop_app unreadable-cloud || fail "unreadable-cloud: the app did not end cleanly"
rm -f "$e2e_cloud_zone"
mv "$work/zone" "$e2e_cloud_zone"
ok "a cloud folder that cannot be read is named in the cloud row"

# SIGKILL at random moments while codes are saved: the file is whole, or not there.
for ((round = 1; round <= 20; round++)); do
    e2e_start "kill-$round" env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless
    for ((i = 0; i < 5; i++)); do
        code=$((code + 1))
        send_code "$code"
    done
    sleep "0.$((RANDOM % 10))"
    kill -9 "${e2e_pids[kill-$round]}" 2>/dev/null || true
    e2e_stop "kill-$round"
    if [[ -e $latest ]]; then
        python3 -c 'import json, sys; json.load(open(sys.argv[1]))["code"]' "$latest" ||
            fail "round $round: latest-code.json is torn: $(head -c 200 "$latest")"
    fi
done
rm -f "$logs"/kill-*.log
ok "SIGKILL at random moments during 100 saves never left a torn latest-code.json"
