#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs one fuzz target briefly over a scratch copy of its seeds, so a test run never adds to
# the committed corpus. Any finding fails the run; the input that caused it is kept in the
# current directory (or $FUZZ_ARTIFACT_DIR) and printed in hex.
set -euo pipefail

usage() {
    cat <<'TXT'
Usage: run-fuzz-smoke.sh FUZZER SEED_DIR... [-- LIBFUZZER_FLAG...]

Copies every SEED_DIR into a fresh temporary corpus and runs FUZZER on it with
-runs=20000 -max_total_time=10; flags after "--" are added (later ones win).
Exits non-zero on any crash, sanitizer report, leak, timeout or broken invariant.
TXT
}

case "${1:-}" in
    -h | --help) usage; exit 0 ;;
esac
if [[ $# -lt 2 ]]; then
    usage >&2
    exit 2
fi

fuzzer=$1
shift
seed_dirs=()
while [[ $# -gt 0 && "$1" != "--" ]]; do
    seed_dirs+=("$1")
    shift
done
[[ $# -gt 0 ]] && shift
extra_flags=("$@")

scratch=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-fuzz.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir "$scratch/corpus"
for dir in "${seed_dirs[@]}"; do
    if [[ ! -d "$dir" ]]; then
        echo "run-fuzz-smoke: no seed directory $dir" >&2
        exit 2
    fi
    cp -R -- "$dir"/. "$scratch/corpus/"
done

mkdir "$scratch/findings"
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}

status=0
"$fuzzer" -runs=20000 -max_total_time=10 -timeout=10 -print_final_stats=1 \
    -artifact_prefix="$scratch/findings/" "${extra_flags[@]}" "$scratch/corpus" || status=$?

if [[ $status -ne 0 ]]; then
    kept=${FUZZ_ARTIFACT_DIR:-$PWD}
    mkdir -p "$kept"
    for finding in "$scratch/findings"/*; do
        [[ -f "$finding" ]] || continue
        target="$kept/$(basename "$fuzzer")-$(basename "$finding")"
        cp -- "$finding" "$target"
        echo "finding kept in $target, in hex:" >&2
        od -An -tx1 -v "$finding" | tr -d ' \n' >&2
        echo >&2
    done
fi
exit "$status"
