# SPDX-License-Identifier: GPL-3.0-or-later
# Sourced after session.sh: xfwm4, xfce4-panel (its tray plugin the tray watcher and host) and
# xfce4-notifyd on the private session's display and bus, in place of its own watcher and dunst,
# which xfce_stop starts again.
# shellcheck shell=bash disable=SC2154 # $logs is the harness's

xfce_dir=
xfce_xfconfd=
xfce_notifyd=
# Their own settings folder, an Xfce desktop, and no accessibility bus to look for.
xfce_environment=()
xfce_pids=()
xfce_panel_pid=
# The root window's properties before the window manager came, to take away what it leaves.
xfce_root_properties=

# The first of the files given that exists (Debian keeps Xfce's daemons and plugins under the
# architecture's lib folder).
xfce_find() {
    local file
    for file; do [[ -e $file ]] && echo "$file" && return 0; done
    return 1
}
xfce_require() {
    e2e_require_tools xfce4-panel xfwm4 xfconf-query xdotool xprop xclip python3
    xfce_find /usr/lib/*/xfce4/panel/plugins/libsystray.so /usr/lib/xfce4/panel/plugins/libsystray.so >/dev/null ||
        e2e_skip "the panel's status tray plugin is missing (scripts/bootstrap installs it)"
    xfce_xfconfd=$(xfce_find /usr/lib/*/xfce4/xfconf/xfconfd /usr/lib/xfce4/xfconf/xfconfd) ||
        e2e_skip "xfconfd is missing (scripts/bootstrap installs it)"
    xfce_notifyd=$(xfce_find /usr/lib/*/xfce4/notifyd/xfce4-notifyd /usr/lib/xfce4/notifyd/xfce4-notifyd) ||
        e2e_skip "xfce4-notifyd is missing (scripts/bootstrap installs it)"
}
xfce_run() { env "${xfce_environment[@]}" "$@"; }
# Starts a program of the session, its output in $logs/NAME.log. Not through e2e_start, so that
# the harness stops the app before the desktop under it (xfce_stop, from e2e_on_exit).
xfce_spawn() {
    env "${xfce_environment[@]}" "${@:2}" </dev/null >>"$logs/$1.log" 2>&1 &
    xfce_pids+=("$!")
}

# xfce4-panel's "position" for a panel across the top (p=6) or the bottom (p=8) of the screen.
xfce_position() { case $1 in top) echo "p=6;x=0;y=0" ;; bottom) echo "p=8;x=0;y=0" ;; esac; }
# One horizontal panel 32 px high across the screen at $1: a separator that takes the room, then
# the status tray plugin at its right end, as Xfce's default panel has it. Notifications at the
# top right in the theme the checks know, without fading or sliding.
xfce_write_settings() {
    local channels=$xfce_dir/config/xfce4/xfconf/xfce-perchannel-xml
    mkdir -p -- "$channels"
    cat >"$channels/xfce4-panel.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-panel" version="1.0">
  <property name="configver" type="int" value="2"/>
  <property name="panels" type="array"><value type="int" value="1"/>
    <property name="panel-1" type="empty">
      <property name="position" type="string" value="$(xfce_position "$1")"/>
      <property name="length" type="uint" value="100"/><property name="size" type="uint" value="32"/>
      <property name="position-locked" type="bool" value="true"/>
      <property name="plugin-ids" type="array"><value type="int" value="1"/><value type="int" value="2"/></property>
    </property>
  </property>
  <property name="plugins" type="empty">
    <property name="plugin-1" type="string" value="separator">
      <property name="expand" type="bool" value="true"/><property name="style" type="uint" value="0"/>
    </property>
    <property name="plugin-2" type="string" value="systray"><property name="square-icons" type="bool" value="true"/></property>
  </property>
</channel>
XML
    cat >"$channels/xfce4-notifyd.xml" <<XML
<?xml version="1.0" encoding="UTF-8"?>
<channel name="xfce4-notifyd" version="1.0">
  <property name="theme" type="string" value="Default"/><property name="notify-location" type="uint" value="2"/>
  <property name="do-fadeout" type="bool" value="false"/><property name="do-slideout" type="bool" value="false"/>
  <property name="initial-opacity" type="double" value="1"/>
</channel>
XML
}

# The geometry of window $1 as "X Y WIDTH HEIGHT" in root coordinates.
xfce_window_rect() {
    local X Y WIDTH HEIGHT
    eval "$(xdotool getwindowgeometry --shell "$1" 2>/dev/null)" || return 1
    [[ -n ${WIDTH:-} ]] || return 1
    echo "$X $Y $WIDTH $HEIGHT"
}
xfce_panel_rect() {
    local window
    window=$(xdotool search --onlyvisible --classname '^xfce4-panel$' 2>/dev/null | head -n 1)
    [[ -n $window ]] && xfce_window_rect "$window"
}
# The status tray plugin's process: xfce4-panel runs it as a wrapper of its own.
xfce_tray_pid() { bus_owner_pid org.kde.StatusNotifierWatcher; }
# The first window of process $1 whose rectangle lies inside (or, with "outside", off) the panel,
# as "WINDOW X Y WIDTH HEIGHT".
xfce_window_of() {
    local window rect panel px py pw ph x y w h
    panel=$(xfce_panel_rect) || return 1
    read -r px py pw ph <<<"$panel"
    for window in $(xdotool search --onlyvisible --pid "$1" 2>/dev/null); do
        rect=$(xfce_window_rect "$window") || continue
        read -r x y w h <<<"$rect"
        if { [[ ${2:-inside} == inside ]] && ((x >= px && y >= py && x + w <= px + pw && y + h <= py + ph)); } ||
            { [[ ${2:-} == outside ]] && ((y >= py + ph || y + h <= py)); }; then
            echo "$window $rect"
            return 0
        fi
    done
    return 1
}
# The tray plugin's window in the panel, as "X Y WIDTH HEIGHT" (its tooltips lie outside).
xfce_tray_rect() {
    local pid found
    pid=$(xfce_tray_pid) && [[ -n $pid ]] || return 1
    found=$(xfce_window_of "$pid") || return 1
    echo "${found#* }"
}
# _NET_WORKAREA of the first desktop, "X Y WIDTH HEIGHT", as the window manager leaves it.
xfce_workarea() {
    xprop -root _NET_WORKAREA 2>/dev/null |
        sed -n 's/^_NET_WORKAREA(CARDINAL) = \([0-9]*\), \([0-9]*\), \([0-9]*\), \([0-9]*\).*/\1 \2 \3 \4/p'
}
# Whether the panel lies across the top (or bottom, $1) of the 1280x800 screen, 32 px high or
# more, and the work area leaves exactly its room out.
xfce_panel_at() {
    local panel area x y w h
    panel=$(xfce_panel_rect) || return 1
    area=$(xfce_workarea)
    read -r x y w h <<<"$panel"
    ((x == 0 && w == 1280 && h >= 32)) || return 1
    case $1 in
        top) ((y == 0)) && [[ $area == "0 $h 1280 $((800 - h))" ]] ;;
        bottom) ((y + h == 800)) && [[ $area == "0 0 1280 $((800 - h))" ]] ;;
    esac
}
xfce_expect_panel_at() {
    within 20 xfce_panel_at "$1" ||
        fail "the panel is not at the $1 with the work area leaving its room; panel $(xfce_panel_rect || true), work area $(xfce_workarea)"
}
# Moves the panel to $1 (top or bottom) through its settings, as its preferences dialog does.
xfce_move_panel() {
    xfce_run xfconf-query -c xfce4-panel -p /panels/panel-1/position -s "$(xfce_position "$1")" ||
        fail "the panel's position could not be set"
    xfce_expect_panel_at "$1"
}
xfce_wm_running() { xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id # 0x[0-9a-f]*'; }
xfce_wm_up_or_gone() { xfce_wm_running || ! e2e_alive "$1"; }
xfce_root_property_names() { xprop -root | sed -n 's/^\([A-Za-z_][A-Za-z0-9_]*\)[(:].*/\1/p' | sort -u; }

# Brings the session up with the panel at $1 (top or bottom): xfconfd, xfwm4, xfce4-panel and
# xfce4-notifyd, which take the tray watcher's and the notification server's names.
xfce_start() {
    local tray_parent
    xfce_dir=$(mktemp -d -p "$ZORVIK_SESSION_DIR" xfce.XXXXXX)
    xfce_environment=(XDG_CONFIG_HOME="$xfce_dir/config" XDG_CURRENT_DESKTOP=XFCE NO_AT_BRIDGE=1)
    xfce_write_settings "$1"
    xfce_root_properties=$(xfce_root_property_names)
    e2e_stop_peer org.kde.StatusNotifierWatcher tray-watcher || true
    e2e_stop_peer org.freedesktop.Notifications dunst || true
    # The bus activates nothing: the settings daemon is started by hand, before its clients.
    xfce_spawn xfconfd "$xfce_xfconfd"
    expect 20 "xfconfd did not come up" bus_has_owner org.xfce.Xfconf
    # The window manager before the panel, which then reserves its room in the work area. Now
    # and then on a busy machine xfwm4 ends at once saying it cannot open the display; it is
    # given one more try, which says so.
    xfce_spawn xfwm4 xfwm4 --compositor=off
    within 20 xfce_wm_up_or_gone "${xfce_pids[-1]}" || true
    if ! e2e_alive "${xfce_pids[-1]}"; then
        echo "note: xfwm4 ended as it started ($(grep -v '^$' "$logs/xfwm4.log" | tail -n 1)); starting it again"
        unset 'xfce_pids[-1]'
        xfce_spawn xfwm4 xfwm4 --compositor=off
    fi
    expect 20 "xfwm4 did not take the screen" xfce_wm_running
    xfce_spawn xfce4-panel xfce4-panel
    xfce_panel_pid=${xfce_pids[-1]}
    xfce_spawn xfce4-notifyd "$xfce_notifyd"
    expect 20 "the panel's tray plugin did not become the tray watcher" bus_has_owner org.kde.StatusNotifierWatcher
    tray_parent=$(ps -o ppid= -p "$(xfce_tray_pid)" 2>/dev/null | tr -d ' ')
    [[ $tray_parent == "$xfce_panel_pid" ]] ||
        fail "the tray watcher is not the panel's plugin (its process $(xfce_tray_pid), parent $tray_parent)"
    expect 20 "the panel's tray plugin did not register as the tray's host" tray_host_registered
    expect 20 "xfce4-notifyd did not take the notification server's name" bus_has_owner org.freedesktop.Notifications
    xfce_expect_panel_at "$1"
}

# Stops the panel with its plugins first, then the rest in the reverse order of their start;
# takes away what the window manager left on the root window, and starts the session's peers.
xfce_stop() {
    local i children property
    if [[ -n $xfce_panel_pid ]]; then
        # The panel's plugins run as its children; each is stopped too, should it outlive it.
        children=$(ps -o pid= --ppid "$xfce_panel_pid" 2>/dev/null || true)
        e2e_stop_process "$xfce_panel_pid"
        # shellcheck disable=SC2086 # one pid a word
        if [[ -n $children ]]; then kill $children 2>/dev/null || true; fi
        xfce_panel_pid=
    fi
    for ((i = ${#xfce_pids[@]} - 1; i >= 0; i--)); do e2e_stop_process "${xfce_pids[i]}"; done
    xfce_pids=()
    if [[ -n $xfce_root_properties ]]; then
        for property in $(xfce_root_property_names); do
            grep -qx -- "$property" <<<"$xfce_root_properties" || xprop -root -remove "$property" 2>/dev/null || true
        done
        xfce_root_properties=
    fi
    e2e_restore_peers || true
}

# Counts the pixels of the PNG $1 that stand out from its most common colour (the panel's
# background): an icon drawn there gives dozens, an empty panel none.
xfce_drawn_pixels() { python3 "$e2e_here/pictures.py" drawn "$1"; }
