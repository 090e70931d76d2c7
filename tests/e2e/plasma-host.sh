# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced after session.sh: KDE Plasma 5.27 headless (KWin with XWayland, plasmashell's tray,
# notifications and Klipper, kded5's watcher, KWallet opened at login as pam_kwallet5 does) on a
# bus of its own. As root a script runs again as the user nobody (e2e_as_unprivileged_user).
# shellcheck shell=bash disable=SC2154 # $logs is the harness's

readonly plasma_wallet_password=zorvik-plasma
readonly plasma_collection=/org/freedesktop/secrets/collection/kdewallet
plasma_dir=
plasma_pids=()
plasma_wallet_pid=
plasma_x_display=

# Skips unless the session's programs, the Qt 5 plugins it loads by name (KWallet's
# Diffie-Hellman sessions, the Wayland platform), and each tool given are installed.
plasma_require() {
    local file
    e2e_require_tools kwin_wayland plasmashell kded5 kwalletd5 Xwayland dbus-daemon dbus-monitor gdbus setpriv "$@"
    for file in /usr/lib/x86_64-linux-gnu/qca-qt5/crypto/libqca-ossl.so \
        /usr/lib/x86_64-linux-gnu/qt5/plugins/platforms/libqwayland-generic.so \
        /usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd; do
        [[ -e $file ]] || e2e_skip "$file is missing (scripts/bootstrap installs it)"
    done
    /usr/bin/python3 -c 'import dbus' 2>/dev/null ||
        e2e_skip "Debian's python3 has no dbus module (scripts/bootstrap installs python3-dbus)"
}

plasma_collection_listed() {
    [[ $(bus_call -d org.freedesktop.secrets -o /org/freedesktop/secrets \
        -m org.freedesktop.Secret.Service.ReadAlias default) == *"'$plasma_collection'"* ]]
}
# What the Secret Service says of the collection: "true", "false", or nothing when it cannot say.
plasma_collection_locked() {
    local answer
    answer=$(bus_call -d org.freedesktop.secrets -o "$plasma_collection" \
        -m org.freedesktop.DBus.Properties.Get org.freedesktop.Secret.Collection Locked) || return 0
    [[ $answer == "(<true>,)" ]] && echo true
    [[ $answer == "(<false>,)" ]] && echo false
    return 0
}
plasma_wallet_open() {
    [[ $(bus_call -d org.kde.kwalletd5 -o /modules/kwalletd5 -m org.kde.KWallet.isOpen kdewallet) == "(true,)" ]]
}

# Starts kwalletd5 as pam_kwallet5 does at login: the PBKDF2-SHA512 hash of the password, salted
# with the wallet's salt file, through a pipe, and the session's environment through a local
# socket. kwalletd5 then opens the wallet "kdewallet" (making it the first time) with no prompt.
plasma_wallet_login() {
    # shellcheck disable=SC2016 # Python
    /usr/bin/python3 -c '
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
sys.exit(wallet.wait())' "$plasma_wallet_password" </dev/null >>"$logs/kwalletd5.log" 2>&1 &
    plasma_wallet_pid=$!
    expect 10 "kwalletd5 did not take org.freedesktop.secrets" bus_has_owner org.freedesktop.secrets
    expect 10 "kwalletd5 did not open the wallet at login" plasma_wallet_open
}

# A later login of a returning user: the wallet as the last logout left it, opened again. The
# logout closes the wallet first, which is when KWallet writes what the Secret Service stored.
plasma_wallet_login_again() {
    plasma_wallet_logout
    plasma_wallet_login
    expect 10 "the Secret Service does not list the wallet" plasma_collection_listed
}
plasma_wallet_logout() {
    [[ -n $plasma_wallet_pid ]] || return 0
    bus_call -d org.kde.kwalletd5 -o /modules/kwalletd5 -m org.kde.KWallet.closeAllWallets >/dev/null || true
    pkill -P "$plasma_wallet_pid" -x kwalletd5 || true
    wait "$plasma_wallet_pid" 2>/dev/null || true
    plasma_wallet_pid=
    expect 10 "kwalletd5 did not let org.freedesktop.secrets go" bus_lacks_owner org.freedesktop.secrets
}

# Starts a program of the session in the background, its output in $logs/NAME.log.
plasma_spawn() {
    "${@:2}" </dev/null >"$logs/$1.log" 2>&1 &
    plasma_pids+=("$!")
}

# Brings the session up: its bus, KWin (1280x800, XWayland; its screenshots allowed to any
# client), the wallet opened at login, kactivitymanagerd, kded5 and plasmashell, and waits until
# plasmashell hosts the tray, serves notifications and runs Klipper. Takes on the session's
# WAYLAND_DISPLAY, DISPLAY and bus.
plasma_start() {
    plasma_dir=$(mktemp -d -p "$ZORVIK_SESSION_DIR" plasma.XXXXXX)
    mkdir -p "$plasma_dir/services" "$plasma_dir/bin"
    # A first login: no screen lock after 5 minutes (its greeter would cover the screen and tell
    # the app the screens sleep), the wallet's Secret Service on, no first-use wizard.
    printf '[Daemon]\nAutolock=false\nLockOnResume=false\n' >"$XDG_CONFIG_HOME/kscreenlockerrc"
    printf '[Wallet]\nEnabled=true\nFirst Use=false\n\n[org.freedesktop.secrets]\napiEnabled=true\n' \
        >"$XDG_CONFIG_HOME/kwalletrc"
    e2e_bus_config "$plasma_dir/bus.conf" session "$plasma_dir/bus" "<servicedir>$plasma_dir/services</servicedir>"
    plasma_spawn plasma-bus dbus-daemon --nofork --nopidfile --config-file="$plasma_dir/bus.conf"
    expect 10 "the session's bus did not start" test -S "$plasma_dir/bus"
    export DBUS_SESSION_BUS_ADDRESS=unix:path=$plasma_dir/bus
    export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE XDG_SESSION_DESKTOP=KDE \
        DESKTOP_SESSION=plasma KDE_FULL_SESSION=true KDE_SESSION_VERSION=5
    unset DISPLAY XAUTHORITY QT_QPA_PLATFORM WAYLAND_DISPLAY

    # Debian's kwin_wayland carries a file capability (cap_sys_resource) that a container without
    # it refuses to run; a copy, still named kwin_wayland, has none.
    cp -- "$(command -v kwin_wayland)" "$plasma_dir/bin/kwin_wayland"
    e2e_write_env_writer "$plasma_dir"
    plasma_spawn kwin env KWIN_SCREENSHOT_NO_PERMISSION_CHECKS=1 LIBGL_ALWAYS_SOFTWARE=1 \
        "$plasma_dir/bin/kwin_wayland" --virtual --xwayland --width 1280 --height 800 \
        --socket zorvik-plasma --exit-with-session "sh $plasma_dir/env-writer.sh $plasma_dir/environment"
    expect 20 "KWin did not start" test -s "$plasma_dir/environment"
    e2e_import_env "$plasma_dir/environment" WAYLAND_DISPLAY DISPLAY
    plasma_x_display=${DISPLAY#:}

    # The first login makes the wallet; KWallet lists a wallet on the Secret Service only from
    # the next start of kwalletd5 on, so the session is a returning user's second login.
    plasma_wallet_login
    plasma_wallet_login_again
    plasma_spawn kactivitymanagerd /usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd
    plasma_spawn kded5 kded5
    plasma_spawn plasmashell plasmashell --no-respawn
    expect 30 "kded5 did not take org.kde.StatusNotifierWatcher" bus_has_owner org.kde.StatusNotifierWatcher
    expect 60 "plasmashell's system tray did not register as the tray host" tray_host_registered
    expect 30 "plasmashell did not take org.freedesktop.Notifications" bus_has_owner org.freedesktop.Notifications
    expect 30 "plasmashell did not start Klipper" bus_has_owner org.kde.klipper
}

plasma_screenshot() { /usr/bin/python3 "$e2e_here/pictures.py" kwin "$1"; }

# Ends the session: plasmashell and the daemons first, KWin (and its XWayland) after them, the
# bus last; removes the X display's files that XWayland leaves behind.
plasma_stop() {
    local i
    plasma_wallet_logout 2>/dev/null || true
    for ((i = ${#plasma_pids[@]} - 1; i >= 0; i--)); do e2e_stop_process "${plasma_pids[i]}"; done
    plasma_pids=()
    e2e_stop_env_writer "$plasma_dir/environment"
    if [[ -n $plasma_x_display ]]; then e2e_remove_x_display "$plasma_x_display" "$(id -u)"; fi
    plasma_x_display=
}
