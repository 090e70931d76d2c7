#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# ZorvikMac --headless with garbage, truncated, empty, a folder or a link in place of each of its
# files, bad records or an unreadable folder in the cloud, and SIGKILL while it saves codes: it
# starts, follows no link, publishes the next code whole, and never leaves a torn file.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin shared-files.sh "app_binary phone" "$@"
e2e_own_config
work=$(mktemp -d -p "$ZORVIK_SESSION_DIR" shared-files.XXXXXX)
record=$e2e_cloud_zone/pending-code.json
victim=$work/victim.txt
code=300000
e2e_on_exit() { e2e_reset_session "$phone"; }
send_next_code() {
    code=$((code + 1))
    send_code "$code"
}
# Published as a regular file of its own, readable by the user alone.
published_whole() {
    [[ -f $latest && ! -L $latest && $(stat -c %a "$latest") == 600 ]] && published "$1"
}
victim_untouched() {
    [[ $(cat "$victim") == "the user's own notes" && $(stat -c %a "$victim") == 644 ]]
}
# Puts KIND (garbage, truncated, empty, folder, link) at PATH.
place() {
    rm -rf "$2"
    mkdir -p "$(dirname "$2")"
    case $1 in
        garbage) printf '\x00\xff{not json at all' >"$2" ;;
        truncated) printf '{"accountName":"Work","code":"12' >"$2" ;;
        empty) : >"$2" ;;
        folder) mkdir -p "$2/inside" ;;
        link) ln -s "$victim" "$2" ;;
    esac
}

e2e_reset_session "$phone"
store_sync_key
printf "the user's own notes" >"$victim"
chmod 644 "$victim"

files=("$latest" "$e2e_shared_dir/latest-code.filled" "$e2e_shared_dir/credential-identities.json"
    "${XDG_DATA_HOME:-$HOME/.local/share}/net.brontal.zorvik/connected-browsers.json"
    "$XDG_CONFIG_HOME/net.brontal.zorvik/ZorvikMac.conf")
for file in "${files[@]}"; do
    for kind in garbage truncated empty folder link; do
        name="$(basename "$file")-$kind"
        place "$kind" "$file"
        start_headless "$name"
        send_next_code
        if [[ $file == "$latest" && $kind == folder ]]; then
            expect 15 "$name: the failed save was not logged" logged "$name" "could not save the code for AutoFill: "
            [[ -d $file/inside ]] || fail "$name: the folder in the way was touched"
        else
            expect 15 "$name: the next code was not published whole" published_whole "$code"
        fi
        victim_untouched || fail "$name: the link's target was changed"
        # The files the app itself writes at start or with a code replace a link by a file.
        if [[ $kind == link && -L $file && ($file == "$latest" || $file == *.conf) ]]; then
            fail "$name: the link is still there"
        fi
        e2e_stop_clean "$name"
        rm -rf "$file" "$latest"
    done
done
ok "garbage, truncated, empty, a folder and a link in place of each of its ${#files[@]} files: no crash, no link followed, the next code published"

for kind in garbage huge; do
    start_headless "record-$kind"
    if [[ $kind == garbage ]]; then
        printf '{"recordName": 12, garbage' >"$record.tmp"
    else
        truncate -s 100M "$record.tmp" # sparse
    fi
    mv "$record.tmp" "$record"
    expect 15 "record-$kind: the bad record was not logged" logged "record-$kind" "fetch failed: "
    send_next_code
    expect 15 "record-$kind: the next code was not published" published_whole "$code"
    e2e_stop_clean "record-$kind"
done
ok "a garbage and a 100 MB record are logged, and the next code is published"

# A file in place of the cloud folder (root reads any folder) is named in the cloud row.
mv "$e2e_cloud_zone" "$work/zone"
: >"$e2e_cloud_zone"
start_headless unreadable-cloud
logged unreadable-cloud "check cloud: failed — Local cloud: the cloud folder $e2e_cloud_zone cannot be read" ||
    fail "unreadable-cloud: the cloud row did not name the folder"
e2e_stop_clean unreadable-cloud
rm -f "$e2e_cloud_zone"
mv "$work/zone" "$e2e_cloud_zone"
ok "a cloud folder that cannot be read is named in the cloud row"

for ((round = 1; round <= 20; round++)); do
    e2e_start "kill-$round" env -u DISPLAY -u WAYLAND_DISPLAY "$app_binary" --headless
    for ((i = 0; i < 5; i++)); do send_next_code; done
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
