// SPDX-License-Identifier: GPL-3.0-or-later
// The data-control protocol's interface tables, as wayland-scanner writes them at build time. The
// code is C: the client header declares every table extern "C" first, so that the definitions
// keep that linkage (and stay visible to libwayland's callers) when compiled as C++ here.
#include "protocols/wlr-data-control-unstable-v1-client-protocol.h"

// g++ reads the generated code's "hidden" attribute in front of `const struct wl_interface` as
// meant for the struct type, and ignores it with a warning; the tables end up in our own binaries
// either way.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wattributes"
// The generated file, not a header: included once, here.
#include "protocols/wlr-data-control-unstable-v1-protocol.c"
#pragma GCC diagnostic pop
