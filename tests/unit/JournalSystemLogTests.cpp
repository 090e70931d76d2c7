// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <vector>

#include "platform/linux/JournalSystemLog.h"
#include "platform/linux/KernelBundleInfo.h"

namespace {

// A journal that takes every line, and records them.
struct TakingJournal {
    std::vector<JournalSystemLog::Entry>* taken;
    bool operator()(const JournalSystemLog::Entry& entry) const {
        taken->push_back(entry);
        return true;
    }
};

// Without a journal every line goes to stderr; with one, only the shell's and those asked for.
TEST(JournalSystemLog, EchoesLinesToStderrWhenAskedTheShellsAlwaysAndAllWithoutAJournal) {
    std::vector<JournalSystemLog::Entry> taken;
    const auto noJournal = [](const JournalSystemLog::Entry&) { return false; };
    testing::internal::CaptureStderr();
    JournalSystemLog("ZorvikMac", true, TakingJournal{&taken})
        .write(LogLevel::info, "net.brontal.zorvik", "mac", "fetch: nothing pending");
    JournalSystemLog("ZorvikMac", true, TakingJournal{&taken})
        .write(LogLevel::error, "net.brontal.zorvik", "mac", "fetch failed: no network");
    JournalSystemLog("ZorvikMac", false, TakingJournal{&taken})
        .write(LogLevel::info, "net.brontal.zorvik", "mac", "not echoed");
    JournalSystemLog("ZorvikMac", false, TakingJournal{&taken})
        .write(LogLevel::info, "net.brontal.zorvik", "shell", "Zorvik: always echoed");
    JournalSystemLog("ZorvikMac", false, noJournal)
        .write(LogLevel::error, "net.brontal.zorvik", "cloud", "push courier answered HTTP 503");
    JournalSystemLog("ZorvikMac", false, TakingJournal{&taken})
        .write(LogLevel::warning, "net.brontal.zorvik", "shell", "Zorvik: no tray");
    ASSERT_EQ(taken.size(), 5u);
    EXPECT_EQ(taken[4].level, LogLevel::warning);
    EXPECT_EQ(taken[1].level, LogLevel::error);
    EXPECT_EQ(taken[2].message, "not echoed");
    EXPECT_EQ(taken[2].category, "mac");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ZorvikMac [info] net.brontal.zorvik:mac fetch: nothing pending\n"
              "ZorvikMac [error] net.brontal.zorvik:mac fetch failed: no network\n"
              "ZorvikMac [info] net.brontal.zorvik:shell Zorvik: always echoed\n"
              "ZorvikMac [error] net.brontal.zorvik:cloud push courier answered HTTP 503\n"
              "ZorvikMac [warning] net.brontal.zorvik:shell Zorvik: no tray\n");
}

// libsystemd's own send, on a machine without journald: it reports success for a line it could
// send nowhere, and the line must reach stderr all the same.
TEST(JournalSystemLog, WithoutJournaldTheRealSendRefusesAndTheLineGoesToStderr) {
    if (JournalSystemLog::journalIsThere()) {
        GTEST_SKIP() << "journald listens on " << JournalSystemLog::journalSocket;
    }
    const JournalSystemLog::Entry entry{LogLevel::info, "ZorvikMac", "net.brontal.zorvik", "mac",
                                        "received Work GitHub from iPhone, expires in 30s"};
    EXPECT_FALSE(JournalSystemLog::sendToJournal(entry));
    testing::internal::CaptureStderr();
    JournalSystemLog("ZorvikMac", false)
        .write(LogLevel::info, "net.brontal.zorvik", "mac",
               "received Work GitHub from iPhone, expires in 30s");
    EXPECT_EQ(testing::internal::GetCapturedStderr(),
              "ZorvikMac [info] net.brontal.zorvik:mac received Work GitHub from iPhone, expires "
              "in 30s\n");
}

TEST(KernelBundleInfo, TheSystemIsTheDistributionAndTheKernelRelease) {
    const QString release = QStringLiteral("6.1.0-27-amd64");
    EXPECT_EQ(systemDescription("NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 "
                                "(bookworm)\"\nID=debian\n",
                                release),
              "Debian GNU/Linux 12 (bookworm), Linux 6.1.0-27-amd64");
    EXPECT_EQ(systemDescription("NAME='Fedora Linux'\nPRETTY_NAME=\n", release),
              "Fedora Linux, Linux 6.1.0-27-amd64");
    EXPECT_EQ(systemDescription("NAME=Arch\n", ""), "Arch, Linux ?");
    EXPECT_EQ(systemDescription("garbage\n\"", release),
              "Linux distribution unknown, Linux 6.1.0-27-amd64");
}

TEST(KernelBundleInfo, ReadsTheFirstOsReleaseFileThatOpens) {
    QTemporaryDir dir;
    QFile file(dir.filePath("os-release"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("PRETTY_NAME=\"Ubuntu 24.04 LTS\"\n");
    file.close();
    const BundleInfo bundle =
        kernelBundleInfo("1.2", "42", {dir.filePath("missing"), dir.filePath("os-release")});
    EXPECT_TRUE(bundle.systemVersion.startsWith("Ubuntu 24.04 LTS, Linux "))
        << bundle.systemVersion.toStdString();
    EXPECT_EQ(bundle.shortVersion, "1.2");
}

}  // namespace
