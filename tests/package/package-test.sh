#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The Debian package as a user meets it: apt installs it with the dependencies it declares, the
# installed programs run from /usr/bin (the version, the AutoFill helper's registration with the
# browsers, a code's whole journey), and apt removes it without leaving any of its files behind.
# Whatever apt installed is removed again, on failure too, so the machine stays as it was.
#
# Usage: package-test.sh [DEB | DIR]   (default: $ZORVIK_DEB; a DIR holds one zorvik_*.deb)
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
target=${1:-${ZORVIK_DEB:-}}
skip() {
    echo "skipped: $*"
    exit 77
}

if [[ -d $target ]]; then
    shopt -s nullglob
    debs=("$target"/zorvik_*.deb)
    shopt -u nullglob
    [[ ${#debs[@]} -eq 1 ]] || skip "no single zorvik_*.deb in $target (scripts/package makes one)"
    target=${debs[0]}
fi
[[ -n $target ]] || skip "no package given: pass a .deb or set ZORVIK_DEB (scripts/package makes one)"
[[ -f $target ]] || skip "$target does not exist (scripts/package makes it)"
[[ ${ZORVIK_DESKTOP_SESSION:-} == 1 ]] || skip "not inside scripts/desktop-session"
if [[ $(id -u) -eq 0 ]]; then
    as_root=()
elif command -v sudo >/dev/null && sudo -n true 2>/dev/null; then
    as_root=(sudo -n)
else
    skip "installing a package needs root or sudo without a password"
fi
if dpkg-query -W -f='${Status}' zorvik 2>/dev/null | grep -q ' installed$'; then
    skip "zorvik is already installed on this machine; the test leaves it alone"
fi
deb=$(realpath -- "$target")

# Waits for an apt run of someone else rather than failing on its lock.
apt_get() { DEBIAN_FRONTEND=noninteractive "${as_root[@]}" apt-get -y -q -o DPkg::Lock::Timeout=300 "$@"; }
installed_packages() {
    dpkg-query -W -f='${db:Status-Status} ${binary:Package}\n' | awk '$1 == "installed" { print $2 }' | sort
}
work=$(mktemp -d)
brought=""
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
ok() { echo "ok: $*"; }

# The package and whatever apt brought in for it go again, whether the test passed or not.
cleanup() {
    if dpkg-query -W -f='${Status}' zorvik 2>/dev/null | grep -q ' installed$'; then
        apt_get remove --purge zorvik >/dev/null 2>&1 || echo "cleanup: could not remove zorvik"
    fi
    if [[ -n $brought ]]; then
        echo "cleanup: removing what the installation brought in: $brought"
        # shellcheck disable=SC2086
        apt_get remove --purge $brought >/dev/null 2>&1 || echo "cleanup: could not remove $brought"
    fi
    rm -rf -- "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# From the package's own folder, as a user types it: apt takes the rest from the archive. What
# it adds besides zorvik is told apart by the package lists before and after: apt holds dpkg's
# lock meanwhile, so nothing else installs in between.
installed_packages >"$work/before"
status=0
(cd "$(dirname "$deb")" && apt_get install "./$(basename "$deb")") >"$work/apt.log" 2>&1 || status=$?
brought=$(comm -13 "$work/before" <(installed_packages) | grep -v '^zorvik\(:.*\)\?$' | tr '\n' ' ' || true)
if [[ $status -ne 0 ]]; then
    cat "$work/apt.log"
    echo "FAIL: apt-get install ./$(basename "$deb")"
    exit 1
fi
if [[ $(dpkg-query -W -f='${Status}' zorvik) != "install ok installed" ]]; then
    echo "FAIL: dpkg -s zorvik: $(dpkg-query -W -f='${Status}' zorvik)"
    exit 1
fi
version=$(dpkg-query -W -f='${Version}' zorvik)
ok "apt installed zorvik $version; Depends: $(dpkg-query -W -f='${Depends}' zorvik)"
[[ -z $brought ]] || echo "note: apt also installed $brought"

# The program's version is the package's, less the Debian revision.
printed=$(/usr/bin/ZorvikMac --version 2>&1) || fail "ZorvikMac --version exits non-zero: $printed"
if grep -qF -- "${version%-*}" <<<"$printed"; then
    ok "/usr/bin/ZorvikMac --version: $printed"
else
    fail "/usr/bin/ZorvikMac --version prints '$printed', not ${version%-*}"
fi

# Browsers the user has started once; the helper registers its installed path with both.
mkdir -p "${XDG_CONFIG_HOME:?}/chromium" "${HOME:?}/.mozilla"
if ! /usr/bin/ZorvikMacAutoFill --install >"$work/autofill.log" 2>&1; then
    cat "$work/autofill.log"
    fail "ZorvikMacAutoFill --install exits non-zero"
fi
for browser in Chromium Firefox; do
    manifest=$XDG_CONFIG_HOME/chromium/NativeMessagingHosts/net.brontal.zorvik.autofill.json
    [[ $browser == Firefox ]] && manifest=$HOME/.mozilla/native-messaging-hosts/net.brontal.zorvik.autofill.json
    path=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["path"])' "$manifest" 2>/dev/null) ||
        path="unreadable: no manifest at $manifest"
    if [[ $path == /usr/bin/ZorvikMacAutoFill ]]; then
        ok "the $browser manifest names /usr/bin/ZorvikMacAutoFill"
    else
        fail "the $browser manifest's path is $path"
    fi
done
if grep -qF "/usr/share/zorvik/browser-extension" "$work/autofill.log" &&
    [[ -f /usr/share/zorvik/browser-extension/manifest.json ]]; then
    ok "the helper points at the installed extension, /usr/share/zorvik/browser-extension"
else
    cat "$work/autofill.log"
    fail "the helper does not point at /usr/share/zorvik/browser-extension"
fi
/usr/bin/ZorvikMacAutoFill --uninstall >/dev/null 2>&1 || fail "ZorvikMacAutoFill --uninstall exits non-zero"
rm -rf -- "$XDG_CONFIG_HOME/chromium" "$HOME/.mozilla"

echo "== a code's journey through the installed programs"
if bash "$here/../e2e/headless-journey.sh" /usr/bin/ZorvikMac /usr/bin/zorvik-phone; then
    ok "the headless journey passes with /usr/bin/ZorvikMac and /usr/bin/zorvik-phone"
else
    fail "the headless journey fails with the installed programs"
fi

# Every file the package put down, so that its removal can be checked file by file.
mapfile -t files < <(dpkg -L zorvik | while IFS= read -r path; do
    [[ -d $path && ! -L $path ]] || echo "$path"
done)
if ! apt_get remove --purge zorvik >"$work/apt.log" 2>&1; then
    cat "$work/apt.log"
    fail "apt-get remove --purge zorvik"
fi
if dpkg-query -W -f='${Status}' zorvik 2>/dev/null | grep -q ' installed$'; then
    fail "zorvik is still installed after apt-get remove --purge"
fi
left=0
for file in "${files[@]}"; do
    if [[ -e $file || -L $file ]]; then
        fail "$file is still there after the removal"
        left=$((left + 1))
    fi
done
[[ $left -ne 0 ]] || ok "apt-get remove --purge removed all ${#files[@]} files of the package"

if [[ $failures -ne 0 ]]; then
    echo "$failures checks failed"
    exit 1
fi
