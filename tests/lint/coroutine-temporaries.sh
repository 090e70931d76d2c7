#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# g++ 12 destroys a temporary a second time, when the coroutine frame is freed, if the temporary
# sits in a co_await expression, has a destructor and is built member by member: a lambda with
# captures that need destroying, or a braced aggregate. A captured QString freed twice corrupted
# the heap of the shipped build. This check finds every such temporary in the tree's coroutines
# with clang's AST matchers, and fails naming each place. Name the value first (a variable), or
# capture by reference.
#
# Usage: coroutine-temporaries.sh BUILD_DIR SOURCE_DIR
#   BUILD_DIR holds compile_commands.json; every .cpp under SOURCE_DIR that awaits is checked.
set -euo pipefail

build=$1
source=$2
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
query=$(command -v clang-query-14 || command -v clang-query || true)
if [[ -z $query ]]; then
    echo "skipped: clang-query is not installed (clang-tools-14)"
    exit 77
fi

matcher=$(mktemp)
trap 'rm -f "$matcher"' EXIT
# A temporary that must be destroyed (bound), made by a lambda or a braced list, anywhere in the
# awaited expression but inside the body of a lambda written there.
cat >"$matcher" <<'QUERY'
set output diag
match coawaitExpr(hasDescendant(cxxBindTemporaryExpr(has(expr(anyOf(lambdaExpr(), initListExpr(), cxxFunctionalCastExpr(has(initListExpr()))))), unless(hasAncestor(lambdaExpr(hasAncestor(coawaitExpr()))))).bind("temporary")))
QUERY

# Places the matcher reports, one "file:line:column" per line.
places() { { grep -Eo '^[^ ]+:[0-9]+:[0-9]+: note: "temporary" binds here' || true; } | cut -d" " -f1 | sort -u; }

# The matcher must find the shapes g++ breaks and leave the ones it compiles right, in the
# sample: else a matcher clang no longer understands would pass everything.
sample=$here/coroutine-temporaries-sample.cpp
found=$("$query" -f "$matcher" "$sample" -- -std=c++20 2>&1 | places | sed 's/.*:\([0-9]*\):[0-9]*:$/\1/')
expected=$(grep -n 'g++ 12 destroys this twice' "$sample" | cut -d: -f1 | awk '{print $1 + 1}')
if [[ $found != "$expected" ]]; then
    echo "FAIL: on the sample the check found lines [${found//$'\n'/ }], not [${expected//$'\n'/ }]"
    exit 1
fi

mapfile -t files < <(cd "$source" && grep -rl --include='*.cpp' 'co_await' \
    ZorvikMac ZorvikMacAutoFill shared platform tools tests bench | grep -v '^tests/lint/')
[[ ${#files[@]} -gt 0 ]] || { echo "FAIL: no coroutine found under $source"; exit 1; }
output=$(cd "$source" && "$query" -p "$build" -f "$matcher" "${files[@]}" 2>&1) || true
if grep -q "error:" <<<"$output"; then
    echo "FAIL: clang could not read the sources:"
    grep "error:" <<<"$output" | head -n 20
    exit 1
fi
bad=$(places <<<"$output")
if [[ -n $bad ]]; then
    echo "FAIL: temporaries that g++ 12 destroys twice (name them first, or capture by reference):"
    echo "$bad"
    exit 1
fi
echo "ok: ${#files[@]} files with coroutines, no temporary that g++ 12 destroys twice"
