# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced after session.sh by the end-to-end scripts that look at the app on a real Xfce desktop:
# xfwm4, xfce4-panel with its status tray plugin, and xfce4-notifyd, on the private session's X
# display and bus, as an Xfce login runs them. Their settings live in an xfconf daemon of their
# own, fed from a folder of this script's making.
# For as long as it runs, the panel's tray plugin is the tray watcher (as in a real Xfce session)
# and xfce4-notifyd the notification server: the session's own watcher and dunst are stopped,
# and started again with their own command lines at the end, for the tests after this one.
# shellcheck shell=bash

xfce_dir=
xfce_xfconfd=
xfce_notifyd=
# What the Xfce programs find in their environment: their own settings folder, an Xfce desktop,
# and no accessibility bus to look for (the session's bus activates nothing).
xfce_environment=()
# Pids of what xfce_start started, in the order it started them.
xfce_pids=()
xfce_panel_pid=
# The session's peers that xfce_start stopped: "NAME|LOG|CMDLINE" with the command line's
# arguments separated by NUL bytes turned into \x1f.
xfce_stopped_peers=()
# The root window's properties before the window manager came, to take away what it leaves.
xfce_root_properties=

# The first file of the pattern $1 that exists (Debian keeps Xfce's daemons under the
# architecture's lib folder).
xfce_find() {
    local file
    for file in $1; do
        if [[ -x $file ]]; then
            echo "$file"
            return 0
        fi
    done
    return 1
}

# Skips (77) when this machine has no Xfce to run: the panel, its tray plugin, the window
# manager, the settings daemon, the notification server, or the tools the checks use.
xfce_require() {
    local tool
    for tool in xfce4-panel xfwm4 xfconf-query xdotool xprop xclip python3; do
        if ! command -v "$tool" >/dev/null; then
            echo "skipped: $tool is missing (scripts/bootstrap installs it)"
            exit 77
        fi
    done
    if ! compgen -G "/usr/lib/*/xfce4/panel/plugins/libsystray.so" >/dev/null &&
        [[ ! -e /usr/lib/xfce4/panel/plugins/libsystray.so ]]; then
        echo "skipped: the panel's status tray plugin is missing (scripts/bootstrap installs it)"
        exit 77
    fi
    xfce_xfconfd=$(xfce_find "/usr/lib/*/xfce4/xfconf/xfconfd /usr/lib/xfce4/xfconf/xfconfd") || {
        echo "skipped: xfconfd is missing (scripts/bootstrap installs it)"
        exit 77
    }
    xfce_notifyd=$(xfce_find "/usr/lib/*/xfce4/notifyd/xfce4-notifyd /usr/lib/xfce4/notifyd/xfce4-notifyd") || {
        echo "skipped: xfce4-notifyd is missing (scripts/bootstrap installs it)"
        exit 77
    }
}

xfce_bus_call() {
    gdbus call --session --timeout 5 "$@" 2>/dev/null
}

# The process that owns the bus name $1 ("" when nobody does).
xfce_owner_pid() {
    xfce_bus_call -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.GetConnectionUnixProcessID "$1" | sed -n 's/^(uint32 \([0-9]*\),)$/\1/p'
}
xfce_has_owner() { [[ -n $(xfce_owner_pid "$1") ]]; }
xfce_has_no_owner() { ! xfce_has_owner "$1"; }

xfce_host_registered() {
    [[ $(xfce_bus_call -d org.kde.StatusNotifierWatcher -o /StatusNotifierWatcher \
        -m org.freedesktop.DBus.Properties.Get org.kde.StatusNotifierWatcher \
        IsStatusNotifierHostRegistered) == "(<true>,)" ]]
}

# Stops whoever owns the bus name $1, a peer of the session logged as $2, and remembers how to
# start it again.
xfce_stop_peer() {
    local name=$1 log=$2 pid cmdline
    pid=$(xfce_owner_pid "$name")
    [[ -n $pid ]] || return 0
    cmdline=$(tr '\0' '\037' <"/proc/$pid/cmdline")
    xfce_stopped_peers+=("$name|$log|${cmdline%$'\037'}")
    kill "$pid"
    expect 20 "$name did not go away" xfce_has_no_owner "$name"
}

# Starts the session's peers that xfce_stop_peer stopped, as the session started them.
xfce_restore_peers() {
    local entry name log cmdline args
    for entry in "${xfce_stopped_peers[@]}"; do
        IFS='|' read -r name log cmdline <<<"$entry"
        IFS=$'\037' read -r -a args <<<"$cmdline"
        # The panel's tray plugin may still be letting go of the watcher's name.
        within 10 xfce_has_no_owner "$name" || echo "FAIL: $name is still owned after the Xfce session"
        setsid "${args[@]}" </dev/null >>"$ZORVIK_SESSION_DIR/logs/$log.log" 2>&1 &
        within 10 xfce_has_owner "$name" || echo "FAIL: the session's $log did not come back"
        if [[ $name == org.kde.StatusNotifierWatcher ]]; then
            within 10 xfce_host_registered || echo "FAIL: the session's $log reports no host"
        fi
    done
    xfce_stopped_peers=()
}

# The panel's place for xfce4-panel's "position" setting: p=6 spans the top of the screen, p=8
# its bottom.
xfce_position() {
    case $1 in
        top) echo "p=6;x=0;y=0" ;;
        bottom) echo "p=8;x=0;y=0" ;;
        *) return 1 ;;
    esac
}

# One horizontal panel 32 px high across the screen at $1 (top or bottom): a separator that takes
# the room, then the status tray plugin at its right end, as Xfce's own default panel has it.
xfce_write_panel_settings() {
    local channels=$xfce_dir/config/xfce4/xfconf/xfce-perchannel-xml
    mkdir -p -- "$channels"
    cat >"$channels/xfce4-panel.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array">
    <value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="$(xfce_position "$1")"/>
      <property name="length" type="uint" value="100"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="size" type="uint" value="32"/>
      <property name="plugin-ids" type="array">
        <value type="int" value="1"/>
        <value type="int" value="2"/>
      </property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/>
      <property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-2" type="string" value="systray">
      <property name="square-icons" type="bool" value="true"/>
    </property>
  </property>
</channel>
XML
    # Notifications at the top right, drawn with the theme the checks know, without fading or
    # sliding (a button is clicked as soon as the window shows).
    cat >"$channels/xfce4-notifyd.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-notifyd" version="1.0">
  <property name="theme" type="string" value="Default"/>
  <property name="notify-location" type="uint" value="2"/>
  <property name="do-fadeout" type="bool" value="false"/>
  <property name="do-slideout" type="bool" value="false"/>
  <property name="initial-opacity" type="double" value="1"/>
</channel>
XML
}

# Runs a command with the Xfce programs' environment.
xfce_run() {
    env "${xfce_environment[@]}" "$@"
}

# Starts a program of the Xfce session in the background, its output in $logs/NAME.log; its pid
# goes to xfce_pids. Not through e2e_start, so that the harness stops the app before the desktop
# under it (xfce_stop, from the script's e2e_on_exit).
# xfce_spawn NAME CMD [ARGS...]
xfce_spawn() {
    local name=$1
    shift
    # env itself, not xfce_run: a function run in the background is a subshell of its own, whose
    # pid is not the program's.
    # shellcheck disable=SC2154 # $logs is the harness's
    env "${xfce_environment[@]}" "$@" </dev/null >>"$logs/$name.log" 2>&1 &
    xfce_pids+=("$!")
}

# The geometry of window $1 as "X Y WIDTH HEIGHT" in root coordinates.
xfce_window_rect() {
    local X Y WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null)" || return 1
    [[ -n ${WIDTH:-} ]] || return 1
    echo "$X $Y $WIDTH $HEIGHT"
}

# The panel's window (its WM_CLASS is xfce4-panel).
xfce_panel_window() {
    xdotool search --onlyvisible --classname '^xfce4-panel$' 2>/dev/null | head -n 1
}
xfce_panel_rect() {
    local window
    window=$(xfce_panel_window) || return 1
    [[ -n $window ]] || return 1
    xfce_window_rect "$window"
}

# The process of the status tray plugin: xfce4-panel runs it as a wrapper of its own, and the
# plugin owns the watcher's name on the bus.
xfce_tray_pid() {
    xfce_owner_pid org.kde.StatusNotifierWatcher
}

# The tray plugin's window inside the panel, as "X Y WIDTH HEIGHT": the window of the plugin's
# process that lies inside the panel's rectangle (its tooltips lie outside).
xfce_tray_rect() {
    local pid panel window rect px py pw ph x y w h
    pid=$(xfce_tray_pid) || return 1
    [[ -n $pid ]] || return 1
    panel=$(xfce_panel_rect) || return 1
    read -r px py pw ph <<<"$panel"
    for window in $(xdotool search --onlyvisible --pid "$pid" 2>/dev/null); do
        rect=$(xfce_window_rect "$window") || continue
        read -r x y w h <<<"$rect"
        if ((x >= px && y >= py && x + w <= px + pw && y + h <= py + ph)); then
            echo "$rect"
            return 0
        fi
    done
    return 1
}

# _NET_WORKAREA of the first desktop, "X Y WIDTH HEIGHT", as the window manager leaves it for
# the panel.
xfce_workarea() {
    xprop -root _NET_WORKAREA 2>/dev/null |
        sed -n 's/^_NET_WORKAREA(CARDINAL) = \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\).*/\1 \2 \3 \4/p'
}

# Whether the panel lies across the top (or bottom, $1) of the 1280x800 screen, 32 px high or
# more, and the window manager's work area leaves exactly its room out.
xfce_panel_at() {
    local panel area x y w h
    panel=$(xfce_panel_rect) || return 1
    area=$(xfce_workarea)
    read -r x y w h <<<"$panel"
    ((x == 0 && w == 1280 && h >= 32)) || return 1
    case $1 in
        top) ((y == 0)) && [[ $area == "0 $h 1280 $((800 - h))" ]] ;;
        bottom) ((y + h == 800)) && [[ $area == "0 0 1280 $((800 - h))" ]] ;;
        *) return 1 ;;
    esac
}

# Moves the panel to $1 (top or bottom) through its settings, as its preferences dialog does.
xfce_move_panel() {
    xfce_run xfconf-query -c xfce4-panel -p /panels/panel-1/position -s "$(xfce_position "$1")" ||
        fail "the panel's position could not be set"
    within 20 xfce_panel_at "$1" ||
        fail "the panel did not move to the $1 with the work area leaving its room; panel $(xfce_panel_rect || true), work area $(xfce_workarea)"
}

# True while process $1 runs (a zombie has ended).
xfce_alive() {
    local stat
    read -r stat 2>/dev/null <"/proc/$1/stat" || return 1
    [[ ${stat##*) } != Z* ]]
}
xfce_wm_up_or_gone() { xfce_wm_running || ! xfce_alive "$1"; }

xfce_wm_running() {
    xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id # 0x[0-9a-f]*'
}

# Brings the Xfce session up with the panel at $1 (top or bottom): xfconfd, xfwm4, xfce4-panel
# (whose tray plugin becomes the tray watcher and host) and xfce4-notifyd. Fails through the
# harness's fail.
xfce_start() {
    xfce_dir=$(mktemp -d -p "$ZORVIK_SESSION_DIR" xfce.XXXXXX)
    xfce_environment=(XDG_CONFIG_HOME="$xfce_dir/config" XDG_CURRENT_DESKTOP=XFCE NO_AT_BRIDGE=1)
    xfce_write_panel_settings "$1"
    xfce_root_properties=$(xprop -root | sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)[(:].*/\1/p' | sort -u)

    # The names are the panel's and xfce4-notifyd's to take, as in an Xfce session.
    xfce_stop_peer org.kde.StatusNotifierWatcher tray-watcher
    xfce_stop_peer org.freedesktop.Notifications dunst

    # The bus activates nothing, so the settings daemon is started by hand, before its clients.
    xfce_spawn xfconfd "$xfce_xfconfd"
    expect 20 "xfconfd did not come up" xfce_has_owner org.xfce.Xfconf
    # The window manager before the panel, which then needs no --disable-wm-check, and reserves
    # the panel's room in the work area from the panel's struts.
    xfce_spawn xfwm4 xfwm4 --compositor=off
    # Now and then, on a busy machine, xfwm4 ends at once saying it cannot open the display that
    # every other client opens; it is given one more try, which says so.
    within 20 xfce_wm_up_or_gone "${xfce_pids[-1]}" || true
    if ! xfce_alive "${xfce_pids[-1]}"; then
        echo "note: xfwm4 ended as it started ($(grep -v '^$' "$logs/xfwm4.log" | tail -n 1)); starting it again"
        unset 'xfce_pids[-1]'
        xfce_spawn xfwm4 xfwm4 --compositor=off
    fi
    expect 20 "xfwm4 did not take the screen" xfce_wm_running
    xfce_spawn xfce4-panel xfce4-panel
    xfce_panel_pid=${xfce_pids[-1]}
    xfce_spawn xfce4-notifyd "$xfce_notifyd"
    expect 20 "the panel's tray plugin did not become the tray watcher" \
        xfce_has_owner org.kde.StatusNotifierWatcher
    local tray_parent
    tray_parent=$(ps -o ppid= -p "$(xfce_tray_pid)" 2>/dev/null | tr -d ' ')
    [[ $tray_parent == "$xfce_panel_pid" ]] ||
        fail "the tray watcher is not the panel's plugin (its process $(xfce_tray_pid), parent $tray_parent)"
    expect 20 "the panel's tray plugin did not register as the tray's host" xfce_host_registered
    expect 20 "xfce4-notifyd did not take the notification server's name" \
        xfce_has_owner org.freedesktop.Notifications
    within 20 xfce_panel_at "$1" ||
        fail "the panel did not come up at the $1 with its room reserved; panel $(xfce_panel_rect || true), work area $(xfce_workarea)"
}

# Stops the Xfce session: the panel with its plugins first, then the rest in the reverse order of
# their start (the settings daemon last); takes away what the window manager left on the root
# window, and starts the session's own peers again.
xfce_stop() {
    local i pid children property
    if [[ -n $xfce_panel_pid ]]; then
        # The panel's plugins run as its children; each is stopped too, should it outlive it.
        children=$(ps -o pid= --ppid "$xfce_panel_pid" 2>/dev/null || true)
        e2e_stop_process "$xfce_panel_pid"
        for pid in $children; do
            kill "$pid" 2>/dev/null || true
        done
        xfce_panel_pid=
    fi
    for ((i = ${#xfce_pids[@]} - 1; i >= 0; i--)); do
        e2e_stop_process "${xfce_pids[i]}"
    done
    xfce_pids=()
    if [[ -n $xfce_root_properties ]]; then
        for property in $(xprop -root | sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)[(:].*/\1/p' | sort -u); do
            if ! grep -qx -- "$property" <<<"$xfce_root_properties"; then
                xprop -root -remove "$property" 2>/dev/null || true
            fi
        done
        xfce_root_properties=
    fi
    xfce_restore_peers
}

# Counts the pixels of the PNG $1 that stand out from its most common colour (the panel's
# background): an icon drawn there gives dozens, an empty panel none.
xfce_drawn_pixels() {
    python3 - "$1" <<'PY'
import collections, struct, sys, zlib

with open(sys.argv[1], "rb") as f:
    data = f.read()
assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
pos, chunks, header = 8, [], None
while pos < len(data):
    (length,) = struct.unpack(">I", data[pos:pos + 4])
    kind, body = data[pos + 4:pos + 8], data[pos + 8:pos + 8 + length]
    if kind == b"IHDR":
        header = struct.unpack(">IIBBBBB", body)
    elif kind == b"IDAT":
        chunks.append(body)
    pos += 12 + length
width, height, depth, colour, _, _, interlace = header
channels = {2: 3, 6: 4}.get(colour)
if depth != 8 or channels is None or interlace:
    sys.exit(f"unsupported PNG: depth {depth}, colour type {colour}, interlace {interlace}")
raw, stride, rows, prior = zlib.decompress(b"".join(chunks)), width * channels, [], None
for y in range(height):
    kind, row = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
    up = prior or bytearray(stride)
    for i in range(stride):
        left = row[i - channels] if i >= channels else 0
        corner = up[i - channels] if i >= channels else 0
        if kind == 1:
            row[i] = (row[i] + left) & 255
        elif kind == 2:
            row[i] = (row[i] + up[i]) & 255
        elif kind == 3:
            row[i] = (row[i] + (left + up[i]) // 2) & 255
        elif kind == 4:
            p = left + up[i] - corner
            pa, pb, pc = abs(p - left), abs(p - up[i]), abs(p - corner)
            row[i] = (row[i] + (left if pa <= pb and pa <= pc else up[i] if pb <= pc else corner)) & 255
    rows.append(row)
    prior = row
pixels = [tuple(row[x * channels:x * channels + 3]) for row in rows for x in range(width)]
background = collections.Counter(pixels).most_common(1)[0][0]
print(sum(1 for p in pixels if sum(abs(a - b) for a, b in zip(p, background)) > 60))
PY
}
