#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The browser starts the AutoFill helper for every request and waits for its answer, so the
# helper loads QtCore and the C and C++ runtimes and nothing else: the graphical toolkit, D-Bus,
# the keyring, systemd, Wayland or OpenSSL would each load for every request. The panel comes
# from the helper's own module, loaded when it is shown. Sanitizer runtimes are allowed too.
# Usage: autofill-host-libraries.sh HELPER
set -euo pipefail

if [[ $# -ne 1 ]]; then
    echo "usage: autofill-host-libraries.sh HELPER" >&2
    exit 2
fi
helper=$1
command -v readelf >/dev/null || { echo "readelf is missing (binutils): skipped"; exit 77; }

dynamic=$(readelf --dynamic -- "$helper")
mapfile -t needed < <(sed -n 's/.*(NEEDED).*\[\(.*\)\]$/\1/p' <<<"$dynamic")
if ((${#needed[@]} == 0)); then
    echo "FAIL: readelf lists no library that $helper needs"
    exit 1
fi
unwanted=()
for library in "${needed[@]}"; do
    case $library in
        libQt6Core.so.* | libstdc++.so.* | libgcc_s.so.* | libc.so.* | libm.so.* | ld-linux*.so.*) ;;
        # Parts of the C library that older toolchains name on their own.
        libdl.so.* | libpthread.so.* | librt.so.*) ;;
        libasan.so.* | libubsan.so.* | liblsan.so.* | libtsan.so.*) ;;
        *) unwanted+=("$library") ;;
    esac
done
if ((${#unwanted[@]})); then
    echo "FAIL: the AutoFill helper loads ${unwanted[*]} for every request; only QtCore and the"
    echo "C and C++ runtimes belong in it (graphical code goes into zorvik-autofill-panel.so)"
    exit 1
fi
echo "ok: the AutoFill helper needs ${needed[*]}"
