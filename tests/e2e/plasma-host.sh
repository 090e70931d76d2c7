# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced after session.sh by the end-to-end scripts that look at the app on a real KDE Plasma 5.27:
# a headless KWin (Wayland, with its XWayland, drawn by Mesa's llvmpipe), plasmashell with its
# default panel and system tray (the tray host, the notification server and Klipper), kded5's
# tray watcher, and KWallet's Secret Service with the wallet opened at login as pam_kwallet5
# opens it. The session has a bus of its own, on which nothing is activated: every peer is
# started here. The session belongs to an ordinary user, as a login's does: as root a script runs
# itself again as the user nobody inside a private desktop session of that user's own (as
# sway-host.sh does), and starts this session beside it.
# shellcheck shell=bash

readonly plasma_wallet_password=zorvik-plasma
# The Qt 5 plugins the stack loads by name: KWallet's Diffie-Hellman sessions (libqca-ossl) and the
# Wayland platform of kwalletd5 and plasmashell.
readonly plasma_qca_plugin=/usr/lib/x86_64-linux-gnu/qca-qt5/crypto/libqca-ossl.so
readonly plasma_wayland_plugin=/usr/lib/x86_64-linux-gnu/qt5/plugins/platforms/libqwayland-generic.so
readonly plasma_activity_manager=/usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd
plasma_dir=
plasma_bus_pid=
plasma_kwin_pid=
plasma_wallet_pid=
plasma_activity_pid=
plasma_kded_pid=
plasma_shell_pid=
plasma_x_display=

# Skips (77) unless the session's programs and each tool given are installed.
plasma_require() {
    local tool
    for tool in kwin_wayland plasmashell kded5 kwalletd5 Xwayland dbus-daemon dbus-monitor gdbus \
        setpriv "$@"; do
        if ! command -v "$tool" >/dev/null; then
            echo "skipped: $tool is missing (scripts/bootstrap installs it)"
            exit 77
        fi
    done
    local file
    for file in "$plasma_qca_plugin" "$plasma_wayland_plugin" "$plasma_activity_manager"; do
        if [[ ! -e $file ]]; then
            echo "skipped: $file is missing (scripts/bootstrap installs it)"
            exit 77
        fi
    done
    if ! /usr/bin/python3 -c 'import dbus' 2>/dev/null; then
        echo "skipped: Debian's python3 has no dbus module (scripts/bootstrap installs python3-dbus)"
        exit 77
    fi
}

# As root: runs the script $1 again as the user nobody in a session of that user's own (see
# e2e_as_unprivileged_user), bringing back the screenshot asked for by ZORVIK_PLASMA_SCREENSHOT.
plasma_as_unprivileged_user() {
    e2e_as_unprivileged_user plasma-host.sh ZORVIK_PLASMA_SCREENSHOT "$@"
}

plasma_call() {
    gdbus call --session --timeout 10 "$@" 2>/dev/null
}

plasma_name_has_owner() {
    [[ $(plasma_call -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.NameHasOwner "$1") == "(true,)" ]]
}

plasma_host_registered() {
    [[ $(plasma_call -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        IsStatusNotifierHostRegistered) == "(<true>,)" ]]
}

# The wallet's collection, as the Secret Service names it.
readonly plasma_collection=/org/freedesktop/secrets/collection/kdewallet

plasma_collection_listed() {
    [[ $(plasma_call -d org.freedesktop.secrets -o /org/freedesktop/secrets \
        -m org.freedesktop.Secret.Service.ReadAlias default) == *"'$plasma_collection'"* ]]
}

# What the Secret Service says of the collection: "true", "false", or nothing when it cannot say.
plasma_collection_locked() {
    local answer
    answer=$(plasma_call -d org.freedesktop.secrets -o "$plasma_collection" \
        -m org.freedesktop.DBus.Properties.Get org.freedesktop.Secret.Collection Locked) || return 0
    [[ $answer == "(<true>,)" ]] && echo true
    [[ $answer == "(<false>,)" ]] && echo false
    return 0
}

# Starts kwalletd5 as pam_kwallet5 does at login: the PBKDF2-SHA512 hash of the password, salted
# with the wallet's salt file, through a pipe, and the session's environment through a local
# socket. kwalletd5 then opens the wallet "kdewallet" (making it the first time) with no prompt.
plasma_wallet_login() {
    cat >"$plasma_dir/wallet-login.py" <<'PY'
import hashlib, os, socket, subprocess, sys
data = os.environ.get("XDG_DATA_HOME") or os.path.join(os.environ["HOME"], ".local/share")
wallets = os.path.join(data, "kwalletd")
os.makedirs(wallets, mode=0o700, exist_ok=True)
salt_file = os.path.join(wallets, "kdewallet.salt")
if not os.path.exists(salt_file):
    with open(salt_file, "wb") as f:
        f.write(os.urandom(56))
with open(salt_file, "rb") as f:
    salt = f.read()
key = hashlib.pbkdf2_hmac("sha512", sys.argv[1].encode(), salt, 50000, 56)
hash_read, hash_write = os.pipe()
path = os.path.join(os.environ["XDG_RUNTIME_DIR"], "kwallet5.socket")
if os.path.exists(path):
    os.unlink(path)
listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
listener.bind(path)
listener.listen(1)
wallet = subprocess.Popen(["kwalletd5", "--pam-login", str(hash_read), str(listener.fileno())],
                          pass_fds=(hash_read, listener.fileno()),
                          env=dict(os.environ, PAM_KWALLET5_LOGIN=path))
os.close(hash_read)
listener.close()
os.write(hash_write, key)
os.close(hash_write)
client = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
client.connect(path)
for name in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS", "XDG_RUNTIME_DIR"):
    if name in os.environ:
        client.sendall(f"{name}={os.environ[name]}\n".encode())
client.close()
os.unlink(path)
sys.exit(wallet.wait())
PY
    # shellcheck disable=SC2154 # $logs is the harness's
    /usr/bin/python3 "$plasma_dir/wallet-login.py" "$plasma_wallet_password" </dev/null \
        >>"$logs/kwalletd5.log" 2>&1 &
    plasma_wallet_pid=$!
    expect 10 "kwalletd5 did not take org.freedesktop.secrets" \
        plasma_name_has_owner org.freedesktop.secrets
    # shellcheck disable=SC2016 # expanded by the inner shell
    expect 10 "kwalletd5 did not open the wallet at login" bash -c \
        '[[ $(gdbus call --session -d org.kde.kwalletd5 -o /modules/kwalletd5 \
            -m org.kde.KWallet.isOpen kdewallet 2>/dev/null) == "(true,)" ]]'
}

# Ends the login's kwalletd5 as a logout does: the wallet is closed first, which is when KWallet
# writes what the Secret Service stored into the wallet's file.
plasma_wallet_logout() {
    [[ -n $plasma_wallet_pid ]] || return 0
    plasma_call -d org.kde.kwalletd5 -o /modules/kwalletd5 \
        -m org.kde.KWallet.closeAllWallets >/dev/null || true
    local wallet
    wallet=$(pgrep -P "$plasma_wallet_pid" -x kwalletd5) || true
    [[ -n $wallet ]] && kill "$wallet" 2>/dev/null
    wait "$plasma_wallet_pid" 2>/dev/null || true
    plasma_wallet_pid=
    within 10 bash -c '! gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.NameHasOwner org.freedesktop.secrets 2>/dev/null | grep -q true' ||
        fail "kwalletd5 did not let org.freedesktop.secrets go"
}

# A later login of a returning user: the wallet as the last logout left it, opened again.
plasma_wallet_login_again() {
    plasma_wallet_logout
    plasma_wallet_login
    expect 10 "the Secret Service does not list the wallet" plasma_collection_listed
}

# Brings the session up: its bus, KWin (1280x800, XWayland), the wallet opened at login,
# kactivitymanagerd, kded5 and plasmashell, and waits until plasmashell hosts the tray, serves
# notifications and runs Klipper. Takes on the session's WAYLAND_DISPLAY, DISPLAY and bus.
# KWin's screenshots are allowed to any client of its bus (KWIN_SCREENSHOT_NO_PERMISSION_CHECKS).
plasma_start() {
    plasma_dir=$(mktemp -d -p "$ZORVIK_SESSION_DIR" plasma.XXXXXX)
    mkdir -p "$plasma_dir/services" "$plasma_dir/bin"
    # A first login: no screen lock after 5 minutes (its greeter would cover the screen and tell
    # the app the screens sleep), the wallet's Secret Service turned on, no first-use wizard.
    printf '[Daemon]\nAutolock=false\nLockOnResume=false\n' >"$XDG_CONFIG_HOME/kscreenlockerrc"
    printf '[Wallet]\nEnabled=true\nFirst Use=false\n\n[org.freedesktop.secrets]\napiEnabled=true\n' \
        >"$XDG_CONFIG_HOME/kwalletrc"
    cat >"$plasma_dir/bus.conf" <<XML
<busconfig>
  <type>session</type>
  <keep_umask/>
  <listen>unix:path=$plasma_dir/bus</listen>
  <servicedir>$plasma_dir/services</servicedir>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
XML
    dbus-daemon --nofork --nopidfile --config-file="$plasma_dir/bus.conf" \
        >"$logs/plasma-bus.log" 2>&1 &
    plasma_bus_pid=$!
    expect 10 "the session's bus did not start" test -S "$plasma_dir/bus"
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$plasma_dir/bus
    export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE XDG_SESSION_DESKTOP=KDE \
        DESKTOP_SESSION=plasma KDE_FULL_SESSION=true KDE_SESSION_VERSION=5
    unset DISPLAY XAUTHORITY QT_QPA_PLATFORM WAYLAND_DISPLAY

    # Debian's kwin_wayland carries a file capability (cap_sys_resource) that a container without
    # it refuses to run; a copy has none. Its name stays kwin_wayland.
    cp -- "$(command -v kwin_wayland)" "$plasma_dir/bin/kwin_wayland"
    # KWin writes its session's variables down through a program it starts, as it starts any.
    cat >"$plasma_dir/started.sh" <<'SCRIPT'
echo $$ >"$1.pid"
env >"$1.part" && mv -- "$1.part" "$1"
exec sleep 600
SCRIPT
    KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1 LIBGL_ALWAYS_SOFTWARE=1 \
        "$plasma_dir/bin/kwin_wayland" --virtual --xwayland --width 1280 --height 800 \
        --socket zorvik-plasma --exit-with-session "sh $plasma_dir/started.sh $plasma_dir/environment" \
        </dev/null >"$logs/kwin.log" 2>&1 &
    plasma_kwin_pid=$!
    expect 20 "KWin did not start" test -s "$plasma_dir/environment"
    local line
    for name in WAYLAND_DISPLAY DISPLAY; do
        line=$(grep -m 1 "^$name=" -- "$plasma_dir/environment") || fail "KWin's session has no $name"
        export "${line?}"
    done
    plasma_x_display=${DISPLAY#:}

    # The first login makes the wallet; KWallet lists a wallet on the Secret Service only from
    # the next start of kwalletd5 on, so the session is a returning user's second login.
    plasma_wallet_login
    plasma_wallet_login_again

    "$plasma_activity_manager" </dev/null >"$logs/kactivitymanagerd.log" 2>&1 &
    plasma_activity_pid=$!
    kded5 </dev/null >"$logs/kded5.log" 2>&1 &
    plasma_kded_pid=$!
    plasmashell --no-respawn </dev/null >"$logs/plasmashell.log" 2>&1 &
    plasma_shell_pid=$!
    expect 30 "kded5 did not take org.kde.StatusNotifierWatcher" \
        plasma_name_has_owner org.kde.StatusNotifierWatcher
    expect 60 "plasmashell's system tray did not register as the tray host" plasma_host_registered
    expect 30 "plasmashell did not take org.freedesktop.Notifications" \
        plasma_name_has_owner org.freedesktop.Notifications
    expect 30 "plasmashell did not start Klipper" plasma_name_has_owner org.kde.klipper
}

# Saves what KWin shows (its whole workspace) as a PNG file $1; prints its size and format.
plasma_screenshot() {
    cat >"$plasma_dir/screenshot.py" <<'PY'
import os, struct, sys, threading, zlib
import dbus
shot = dbus.Interface(dbus.SessionBus().get_object("org.kde.KWin", "/org/kde/KWin/ScreenShot2"),
                      "org.kde.KWin.ScreenShot2")
read_end, write_end = os.pipe()
chunks = []
def drain():
    with os.fdopen(read_end, "rb") as pipe:
        while block := pipe.read(1 << 16):
            chunks.append(block)
reader = threading.Thread(target=drain)
reader.start()
meta = shot.CaptureWorkspace({"native-resolution": True}, dbus.types.UnixFd(write_end), timeout=20)
os.close(write_end)
reader.join(20)
data = b"".join(chunks)
width, height, stride, image_format = (int(meta[k]) for k in ("width", "height", "stride", "format"))
if len(data) < stride * height:
    sys.exit(f"KWin sent {len(data)} bytes for {width}x{height}")
rows = []
for y in range(height):
    row = data[y * stride:y * stride + width * 4]
    # QImage's (A)RGB32 formats (4, 5, 6): B, G, R, A in memory on this little-endian machine.
    if image_format in (4, 5, 6):
        pixels = bytearray(row)
        pixels[0::4], pixels[2::4] = row[2::4], row[0::4]
        row = bytes(pixels)
    elif image_format not in (16, 17, 18):
        sys.exit(f"unknown image format {image_format}")
    rows.append(b"\0" + row)
def chunk(kind, body):
    return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
with open(sys.argv[1], "wb") as out:
    out.write(b"\x89PNG\r\n\x1a\n"
              + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
              + chunk(b"IDAT", zlib.compress(b"".join(rows), 6)) + chunk(b"IEND", b""))
print(f"{width}x{height}")
PY
    /usr/bin/python3 "$plasma_dir/screenshot.py" "$1"
}

# How many pixels differ between two screenshots taken by plasma_screenshot (PNG files $1 and
# $2) inside the rectangle X Y WIDTH HEIGHT.
plasma_pixels_changed() {
    /usr/bin/python3 - "$@" <<'PY'
import struct, sys, zlib
def load(path):
    data = open(path, "rb").read()
    width, height = struct.unpack(">II", data[16:24])
    at, idat = 8, b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        if kind == b"IDAT":
            idat += data[at + 8:at + 8 + length]
        at += 12 + length
    raw = zlib.decompress(idat)
    return width, [raw[y * (width * 4 + 1) + 1:(y + 1) * (width * 4 + 1)] for y in range(height)]
(_, a), (_, b) = load(sys.argv[1]), load(sys.argv[2])
x, y, w, h = map(int, sys.argv[3:7])
print(sum(a[row][col * 4:col * 4 + 3] != b[row][col * 4:col * 4 + 3]
          for row in range(y, y + h) for col in range(x, x + w)))
PY
}

# Ends the session: plasmashell and the daemons first, KWin (and its XWayland) after them, the
# bus last; removes the X display's files that XWayland leaves behind.
plasma_stop() {
    local pid
    plasma_wallet_logout 2>/dev/null || true
    for pid in "$plasma_shell_pid" "$plasma_kded_pid" "$plasma_activity_pid" "$plasma_kwin_pid" \
        "$plasma_bus_pid"; do
        e2e_stop_process "$pid"
    done
    plasma_shell_pid=''
    plasma_kded_pid=''
    plasma_activity_pid=''
    plasma_kwin_pid=''
    plasma_bus_pid=''
    # The program that wrote KWin's environment down outlives it.
    if [[ -s $plasma_dir/environment.pid ]]; then
        kill "$(<"$plasma_dir/environment.pid")" 2>/dev/null || true
    fi
    if [[ -n $plasma_x_display ]]; then
        local file
        for file in "/tmp/.X11-unix/X$plasma_x_display" "/tmp/.X$plasma_x_display-lock"; do
            [[ -O $file ]] && rm -f -- "$file"
        done
    fi
    plasma_x_display=
}
