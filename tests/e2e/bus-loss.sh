#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The session bus going away under ZorvikMac --headless: the app ends, and its log names the
# cause rather than reading like an ordinary quit by signal.
# shellcheck source-path=SCRIPTDIR disable=SC2154 # e2e_begin sets the arguments' variables
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/session.sh"
e2e_begin bus-loss.sh "app_binary" "$@"
e2e_own_config
# A bus of its own, so that taking it away leaves the session's bus to the other tests.
e2e_private_bus
e2e_start app env DBUS_SESSION_BUS_ADDRESS="$e2e_bus_address" "$app_binary" --headless --embedded-cloud
expect 20 "the app did not start" logged app "start: version"
kill "$e2e_bus_pid" && e2e_bus_pid=""
expect 15 "the app kept running without its session bus" gone "${e2e_pids[app]}"
e2e_stop_clean app 0
logged app "lost the connection to the session bus" || fail "the log does not say that the session bus went away"
logged app "quitting on SIGTERM" && fail "the loss of the bus reads as a quit by SIGTERM"
ok "the app ends when its session bus goes away, exits with 0, and says why"
