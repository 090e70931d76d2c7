# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the pairing scripts after session.sh: ZorvikMac --pair at a terminal of its own, as a
# user runs it, and the check that the code it draws is the QR code of the text beneath it.
# shellcheck shell=bash disable=SC2154,SC2034 # $work and $app_binary are the sourcing script's

# The text of a pairing code: two values of base64url without padding.
pair_uri_pattern='zorvik://pair\?v=1&id=[A-Za-z0-9_-]{22}&pk=[A-Za-z0-9_-]{43}'

# Starts `$app_binary --pair ARGS...` at a terminal (see e2e_start_at_terminal), what it shows in
# $logs/NAME.log. Sets pair_pid (`script`, which exits with the app's status) and pair_app_pid.
start_pair() {
    pair_out=$logs/$1.log
    e2e_start_at_terminal "$work" "$pair_out" "$app_binary" --pair "${@:2}" || fail "--pair ($1) did not start"
    pair_pid=$! # `script`, the last process started in the background
    pair_app_pid=$e2e_terminal_pid
}
# What the terminal showed, without the carriage returns it adds to each line end.
pair_screen() { tr -d '\r' <"$pair_out"; }
screen_shows() { pair_screen | grep -qF -- "$1"; }
# Sets pair_uri to the pairing code's text once the terminal shows it.
read_pair_uri() {
    within 15 bash -c "tr -d '\r' <'$pair_out' | grep -Eqx '$pair_uri_pattern'" ||
        fail "--pair showed no pairing code: $(pair_screen)"
    pair_uri=$(pair_screen | grep -Ex "$pair_uri_pattern" | head -n 1)
}
# Waits up to $1 seconds for the --pair run to end; fails unless its exit status is $2.
wait_pair() {
    local status=0
    within "$1" gone "$pair_pid" || fail "--pair still runs after $1 s: $(pair_screen)"
    wait "$pair_pid" || status=$?
    exec {e2e_terminal_keys}>&-
    [[ $status == "$2" ]] || fail "--pair exited $status, not $2: $(pair_screen)"
}
# Ends whatever --pair run is left (for e2e_on_exit).
stop_pair() {
    if [[ -n ${pair_pid:-} ]] && kill -0 "$pair_pid" 2>/dev/null; then
        kill -TERM "$pair_app_pid" 2>/dev/null || true
        wait "$pair_pid" 2>/dev/null || true
    fi
}
# --pair waited for the phone's key (its file $1), stored it and said so.
expect_paired() {
    wait_pair 10 0
    grep -qx "The sync key from your iPhone is stored." <(pair_screen) || fail "no success line: $(pair_screen)"
    [[ $("$phone" key export) == "$(base64 -w 0 "$1")" ]] || fail "the keychain does not hold the phone's key"
}

# Checks the QR code the terminal showed: lines of equal width with a light margin of two modules
# at least (dark modules are the blank cells), which, drawn back into an image, a QR reader
# decodes to the text $1.
check_terminal_qr() {
    local image=$work/terminal-qr.pgm decoded
    pair_screen | python3 -c '
import sys
FULL, UPPER, LOWER = "\u2588", "\u2580", "\u2584"
lines = sys.stdin.read().split("\n")
picture = [l for l in lines if len(l) >= 21 and set(l) <= {FULL, UPPER, LOWER, " "} and l.strip()]
if not picture:
    sys.exit("no picture of block characters")
start, width = lines.index(picture[0]), len(picture[0])
if lines[start:start + len(picture)] != picture or any(len(l) != width for l in picture):
    sys.exit("the picture is broken up by other lines or its lines differ in width")
# Two module rows to a line, True for light (a drawn half); an odd number of rows leaves the
# last lower half to the terminal.
rows = [[c in (FULL, half) for c in line] for line in picture for half in (UPPER, LOWER)]
if not any(rows[-1]):
    rows.pop()
margin = 0
while margin < width // 2 and all(rows[margin]) and all(rows[-1 - margin]) and all(r[margin] and r[-1 - margin] for r in rows):
    margin += 1
if len(rows) != width or margin < 2:
    sys.exit("the picture is %d modules wide and %d high, with a light margin of %d" % (width, len(rows), margin))
# The modules as a greyscale image, 8 pixels each.
sys.stdout.buffer.write(b"P5 %d %d 255\n" % (width * 8, width * 8))
for row in rows:
    sys.stdout.buffer.write(b"".join((b"\xff" if light else b"\x00") * 8 for light in row) * 8)
' >"$image" || fail "the terminal's QR code is not well formed: $(pair_screen)"
    decoded=$(zbarimg --raw -q --nodbus "$image") || fail "no QR code could be read from the terminal's picture"
    [[ $decoded == "$1" ]] || fail "the QR code says '$decoded', the text beneath it '$1'"
}
