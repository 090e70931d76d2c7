# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced by the pairing scripts after session.sh: ZorvikMac --pair at a pseudo-terminal, as a
# user runs it, with a keyboard the script types into, and the check that the code it draws
# is the QR code of the text beneath it.
# shellcheck shell=bash
# The sourcing script begins with e2e_begin, sets work and app_binary and reads pair_uri and
# pair_status.
# shellcheck disable=SC2154,SC2034

# The text of a pairing code: two values of base64url without padding.
pair_uri_pattern='zorvik://pair\?v=1&id=[A-Za-z0-9_-]{22}&pk=[A-Za-z0-9_-]{43}'

# Starts `$app_binary --pair ARGS...` at a terminal of its own (see e2e_start_at_terminal) and
# leaves in $logs/NAME.log what the terminal showed. Sets pair_pid (the `script` process, which
# exits with the app's status), pair_app_pid (the app itself) and pair_out; the bytes written to
# e2e_terminal_keys are typed at the terminal.
# Usage: start_pair NAME ARGS...
start_pair() {
    local name=$1
    shift
    pair_out=$logs/$name.log
    e2e_start_at_terminal "$work" "$pair_out" "$app_binary" --pair "$@" ||
        fail "--pair ($name) did not start"
    pair_pid=$! # `script`, the last process started in the background
    pair_app_pid=$e2e_terminal_pid
}

# What the terminal showed, without the carriage returns the terminal adds to each line end.
pair_screen() { tr -d '\r' <"$pair_out"; }

# True when the terminal shows a line with the text $1; read anew at each call, so it can be
# waited for.
screen_shows() { pair_screen | grep -qF -- "$1"; }

# Sets pair_uri to the pairing code's text once the terminal shows it.
read_pair_uri() {
    within 15 bash -c "tr -d '\r' <'$pair_out' | grep -Eqx '$pair_uri_pattern'" ||
        fail "--pair showed no pairing code: $(pair_screen)"
    pair_uri=$(pair_screen | grep -Ex "$pair_uri_pattern" | head -n 1)
}

# Waits up to $1 seconds for the --pair run to end; sets pair_status to its exit status.
wait_pair() {
    within "$1" bash -c "! kill -0 $pair_pid 2>/dev/null" ||
        fail "--pair still runs after $1 s: $(pair_screen)"
    pair_status=0
    wait "$pair_pid" || pair_status=$?
    exec {e2e_terminal_keys}>&-
}

# Ends whatever --pair run is left (for e2e_on_exit).
stop_pair() {
    if [[ -n ${pair_pid:-} ]] && kill -0 "$pair_pid" 2>/dev/null; then
        kill -TERM "$pair_app_pid" 2>/dev/null || true
        wait "$pair_pid" 2>/dev/null || true
    fi
}

# Checks the QR code the terminal showed: a square of modules with a light margin of at least
# two modules, finder patterns where a scanner looks for them (so dark modules are the blank
# cells), and, drawn back into an image, a code that a QR reader decodes to the text $1.
check_terminal_qr() {
    local uri=$1 image=$work/terminal-qr.pgm decoded
    pair_screen | python3 -c '
import sys

FULL, UPPER, LOWER, BLANK = "\u2588", "\u2580", "\u2584", " "
lines = sys.stdin.read().split("\n")
picture = [l for l in lines if len(l) >= 21 and set(l) <= {FULL, UPPER, LOWER, BLANK} and l.strip()]
if not picture:
    sys.exit("no picture of block characters")
start = lines.index(picture[0])
if lines[start:start + len(picture)] != picture:
    sys.exit("the picture is broken up by other lines")
width = len(picture[0])
if any(len(l) != width for l in picture):
    sys.exit("the picture lines differ in width")
# Two module rows to a line; True for light (a drawn half).
rows = []
for line in picture:
    rows.append([c in (FULL, UPPER) for c in line])
    rows.append([c in (FULL, LOWER) for c in line])
# An odd number of rows leaves the last lower half to the terminal: nothing drawn there.
if not any(rows[-1]):
    rows.pop()
if len(rows) != width:
    sys.exit("the picture is %d modules wide and %d high" % (width, len(rows)))
margin = 0
while margin < width // 2 and all(rows[margin]) and all(rows[-1 - margin]) and \
        all(r[margin] and r[-1 - margin] for r in rows):
    margin += 1
size = width - 2 * margin
if margin < 2:
    sys.exit("the light margin is %d modules" % margin)
if size < 21 or (size - 17) % 4:
    sys.exit("%d modules is not the size of a QR code" % size)

def finder_at(left, top):
    for y in range(7):
        for x in range(7):
            ring = x in (0, 6) or y in (0, 6)
            eye = 2 <= x <= 4 and 2 <= y <= 4
            if rows[margin + top + y][margin + left + x] == (ring or eye):
                return False
    return True

for corner in ((0, 0), (size - 7, 0), (0, size - 7)):
    if not finder_at(*corner):
        sys.exit("no finder pattern at %s" % (corner,))
if finder_at(size - 7, size - 7):
    sys.exit("a finder pattern in the fourth corner")
# The modules as a greyscale image, 8 pixels each, dark modules black.
scale = 8
out = sys.stdout.buffer
out.write(b"P5 %d %d 255\n" % (width * scale, width * scale))
for row in rows:
    line = b"".join((b"\xff" if light else b"\x00") * scale for light in row)
    out.write(line * scale)
' >"$image" || fail "the terminal's QR code is not well formed: $(pair_screen)"
    decoded=$(zbarimg --raw -q --nodbus "$image") || fail "no QR code could be read from the terminal's picture"
    [[ $decoded == "$uri" ]] || fail "the QR code says '$decoded', the text beneath it '$uri'"
}
