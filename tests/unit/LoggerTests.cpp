// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/Logger.h"
#include "tests/support/RecordingSystemLog.h"

namespace {

// Arguments are never read as format, and a missing one or a stray percent sign shows as is.
TEST(LogFormat, RendersTheProductsPlaceholders) {
    EXPECT_EQ(renderLogFormat("fetch: valid code for %{public}s from %{public}s",
                              {QString("Work"), QString("iPhone")}),
              "fetch: valid code for Work from iPhone");
    EXPECT_EQ(renderLogFormat("received %{public}s from %{public}s, expires in %lds",
                              {QString("Work"), QString("Watch"), std::int64_t{-3}}),
              "received Work from Watch, expires in -3s");
    EXPECT_EQ(renderLogFormat("start: firstRun=%{bool}d", {true}), "start: firstRun=true");
    EXPECT_EQ(renderLogFormat("start: firstRun=%{bool}d", {false}), "start: firstRun=false");
    EXPECT_EQ(renderLogFormat("100%% done, %d left", {std::int64_t{2}}), "100% done, 2 left");
    EXPECT_EQ(renderLogFormat("fetch: %{public}s", {QString("%{public}s %d 50%")}),
              "fetch: %{public}s %d 50%");
    EXPECT_EQ(renderLogFormat("a %s b %s", {QString("x")}), "a x b ?");
    EXPECT_EQ(renderLogFormat("50% %{public", {}), "50% %{public");
    EXPECT_EQ(renderLogFormat("ends with %", {}), "ends with %");
}

TEST(Logger, WritesLevelSubsystemAndCategory) {
    RecordingSystemLog log;
    const Logger logger(log, "net.brontal.zorvik", "mac");
    logger.info("push received: subscription %{public}s", "pending-code-changes");
    logger.error("fetch failed: %{public}s", QString("no network"));
    using Line = RecordingSystemLog::Line;
    EXPECT_EQ(log.lines, (std::vector<Line>{{LogLevel::info, "net.brontal.zorvik", "mac",
                                             "push received: subscription pending-code-changes"},
                                            {LogLevel::error, "net.brontal.zorvik", "mac",
                                             "fetch failed: no network"}}));
}

}  // namespace
