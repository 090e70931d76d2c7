// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <gtest/gtest.h>

#include <QString>

// Integration tests talk to real peers of the private desktop session (scripts/desktop-session)
// and skip, with the reason, anywhere else.
inline bool insideDesktopSession() {
    return qEnvironmentVariable("ZORVIK_DESKTOP_SESSION") == "1";
}

#define REQUIRE_DESKTOP_SESSION()                                                          \
    do {                                                                                   \
        if (!insideDesktopSession()) {                                                     \
            GTEST_SKIP() << "needs the private desktop session (scripts/desktop-session)"; \
        }                                                                                  \
    } while (false)
