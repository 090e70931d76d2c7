#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary prefix whose path holds a space, and checks the tree as a
# user gets it: the four programs with their manual pages, the menu entry and the software
# centres' metainfo, the icon at every size, and the installed programs finding each other (the
# AutoFill helper registers its own installed path).
set -euo pipefail

if [[ $# -ne 2 ]]; then
    echo "usage: install-tree.sh CMAKE BUILD_DIR" >&2
    exit 2
fi
cmake=$1
build=$2

work=$(mktemp -d "${TMPDIR:-/tmp}/zorvik-install.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
prefix="$work/my apps"
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

if ! "$cmake" --install "$build" --prefix "$prefix" >"$work/install.log" 2>&1; then
    cat "$work/install.log"
    echo "FAIL: cmake --install"
    exit 1
fi
ok "cmake --install put $(grep -c '^-- Installing' "$work/install.log") files into the prefix"

for program in ZorvikMac ZorvikMacAutoFill zorvik-phone zorvik-latest; do
    if [[ -f "$prefix/bin/$program" && -x "$prefix/bin/$program" ]]; then
        ok "bin/$program is executable"
    else
        fail "bin/$program is missing or not executable"
    fi
done

entry="$prefix/share/applications/net.brontal.zorvik.desktop"
if ! command -v desktop-file-validate >/dev/null; then
    fail "desktop-file-validate is missing (scripts/bootstrap installs desktop-file-utils)"
elif [[ ! -f $entry ]]; then
    fail "share/applications/net.brontal.zorvik.desktop is missing"
elif ! desktop-file-validate "$entry"; then
    fail "desktop-file-validate rejects the menu entry"
else
    ok "the menu entry passes desktop-file-validate"
fi
for line in "Name=Zorvik" "Exec=ZorvikMac" "Icon=net.brontal.zorvik" "Categories=Utility;" \
    "StartupNotify=false"; do
    grep -qxF -- "$line" "$entry" 2>/dev/null || fail "the menu entry lacks $line"
done

icons="$prefix/share/icons/hicolor"
if grep -q '<svg' "$icons/scalable/apps/net.brontal.zorvik.svg" 2>/dev/null; then
    ok "the scalable icon is installed"
else
    fail "scalable/apps/net.brontal.zorvik.svg is missing"
fi
# A PNG's width and height are the big-endian words at bytes 16 and 20.
png_size() {
    local w1 w2 w3 w4 h1 h2 h3 h4
    read -r w1 w2 w3 w4 h1 h2 h3 h4 < <(od -An -tu1 -j16 -N8 -- "$1")
    echo "$(((w1 << 24) | (w2 << 16) | (w3 << 8) | w4))x$(((h1 << 24) | (h2 << 16) | (h3 << 8) | h4))"
}
failures_before_icons=$failures
for size in 16 22 24 32 48 64 128 256; do
    png="$icons/${size}x${size}/apps/net.brontal.zorvik.png"
    if [[ ! -f $png ]]; then
        fail "${size}x${size}/apps/net.brontal.zorvik.png is missing"
    elif [[ $(head -c 8 -- "$png" | od -An -tx1 | tr -d ' ') != 89504e470d0a1a0a ]]; then
        fail "${size}x${size}/apps/net.brontal.zorvik.png is not a PNG file"
    elif [[ $(png_size "$png") != "${size}x${size}" ]]; then
        fail "${size}x${size}/apps/net.brontal.zorvik.png is $(png_size "$png") pixels"
    fi
done
if ((failures == failures_before_icons)); then
    ok "the icon is there as PNG at 16, 22, 24, 32, 48, 64, 128 and 256 pixels"
fi

if [[ -f "$prefix/share/zorvik/browser-extension/manifest.json" ]]; then
    ok "the browser extension is installed"
else
    fail "share/zorvik/browser-extension/manifest.json is missing"
fi

# The installed programs, for a user of their own who has Chromium and Firefox.
export HOME="$work/home"
export XDG_CONFIG_HOME="$work/config" XDG_DATA_HOME="$work/data" XDG_CACHE_HOME="$work/cache"
export QT_QPA_PLATFORM=offscreen
mkdir -p "$HOME/.mozilla" "$XDG_CONFIG_HOME/chromium"

if version=$("$prefix/bin/ZorvikMac" --version 2>"$work/version.err") &&
    [[ $version =~ ^ZorvikMac\ [0-9]+\.[0-9]+\.[0-9]+\ \(.+\)$ ]]; then
    ok "the installed ZorvikMac --version says: $version"
else
    cat "$work/version.err"
    fail "the installed ZorvikMac --version printed '${version:-}'"
fi
for program in ZorvikMacAutoFill zorvik-phone zorvik-latest; do
    printed=$("$prefix/bin/$program" --version 2>&1) || true
    [[ $printed =~ ^$program\ [0-9]+\.[0-9]+\.[0-9]+$ ]] ||
        fail "the installed $program --version printed '$printed'"
done

# A manual page for each program, which lists every option its --help lists.
for program in ZorvikMac ZorvikMacAutoFill zorvik-phone zorvik-latest; do
    page="$prefix/share/man/man1/$program.1.gz"
    if ! roff=$(gzip -dc -- "$page" 2>/dev/null); then
        fail "share/man/man1/$program.1.gz is missing or not gzip"
        continue
    fi
    grep -q "^\.TH \"*${program^^}" <<<"$roff" || fail "$program.1 has no .TH header for $program"
    unlisted=()
    while read -r option; do
        grep -qF -- "${option//-/\\-}" <<<"$roff" || unlisted+=("$option")
    done < <("$prefix/bin/$program" --help 2>/dev/null | grep -oE '^ +--[a-z-]+' | tr -d ' ')
    if ((${#unlisted[@]})); then
        fail "$program.1 lacks ${unlisted[*]}"
    else
        ok "$program.1 lists every option of $program --help"
    fi
done

metainfo="$prefix/share/metainfo/net.brontal.zorvik.metainfo.xml"
if ! command -v appstreamcli >/dev/null; then
    fail "appstreamcli is missing (scripts/bootstrap installs appstream)"
elif ! appstreamcli validate --no-net --pedantic "$metainfo"; then
    fail "appstreamcli rejects share/metainfo/net.brontal.zorvik.metainfo.xml"
else
    ok "the metainfo passes appstreamcli validate --no-net --pedantic"
fi

host="$prefix/bin/ZorvikMacAutoFill"
if ! "$host" --install >"$work/autofill.out" 2>&1; then
    cat "$work/autofill.out"
    fail "the installed ZorvikMacAutoFill --install failed"
fi
for manifest in "$XDG_CONFIG_HOME/chromium/NativeMessagingHosts/net.brontal.zorvik.autofill.json" \
    "$HOME/.mozilla/native-messaging-hosts/net.brontal.zorvik.autofill.json"; do
    if ! path=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["path"])' \
        "$manifest" 2>/dev/null); then
        fail "no manifest at ${manifest#"$work"/}"
    elif [[ $path != "$host" ]]; then
        fail "${manifest#"$work"/} names $path, not the installed helper"
    else
        ok "${manifest#"$work"/} names the installed helper"
    fi
done
grep -qF "Now load the extension in your browser: $prefix/share/zorvik/browser-extension" \
    "$work/autofill.out" || fail "--install did not point at the installed extension: $(cat "$work/autofill.out")"

if ((failures)); then
    echo "$failures checks failed"
    exit 1
fi
echo "all checks passed"
