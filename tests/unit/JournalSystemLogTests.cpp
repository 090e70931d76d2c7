#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryFile>
#include <cstdio>
#include <vector>

#include "JournalSystemLog.h"
#include "KernelBundleInfo.h"

namespace {

// Sends this process's stderr to a file while it lives.
class CapturedStderr {
public:
    CapturedStderr() {
        file_.open();
        std::fflush(stderr);
        saved_ = dup(STDERR_FILENO);
        dup2(file_.handle(), STDERR_FILENO);
    }
    ~CapturedStderr() { restore(); }
    QString text() {
        restore();
        QFile reread(file_.fileName());
        reread.open(QIODevice::ReadOnly);
        return QString::fromUtf8(reread.readAll());
    }

private:
    void restore() {
        if (saved_ >= 0) {
            std::fflush(stderr);
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
        }
    }
    QTemporaryFile file_;
    int saved_ = -1;
};

// A journal that takes every line, and records them.
struct TakingJournal {
    std::vector<JournalSystemLog::Entry>* taken;
    bool operator()(const JournalSystemLog::Entry& entry) const {
        taken->push_back(entry);
        return true;
    }
};

TEST(JournalSystemLog, EchoesLinesToStderrWhenAskedAndTheShellsAlways) {
    std::vector<JournalSystemLog::Entry> taken;
    CapturedStderr echoed;
    JournalSystemLog("ZorvikMac", true, TakingJournal{&taken})
        .write(LogLevel::info, "net.brontal.zorvik", "mac", "fetch: nothing pending");
    JournalSystemLog("ZorvikMac", true, TakingJournal{&taken})
        .write(LogLevel::error, "net.brontal.zorvik", "mac", "fetch failed: no network");
    JournalSystemLog("ZorvikMac", false, TakingJournal{&taken})
        .write(LogLevel::info, "net.brontal.zorvik", "mac", "not echoed");
    JournalSystemLog("ZorvikMac", false, TakingJournal{&taken})
        .write(LogLevel::info, "net.brontal.zorvik", "shell", "Zorvik: always echoed");
    ASSERT_EQ(taken.size(), 4u);
    EXPECT_EQ(taken[1].level, LogLevel::error);
    EXPECT_EQ(taken[2].message, "not echoed");
    EXPECT_EQ(taken[2].category, "mac");
    EXPECT_EQ(echoed.text(),
              "ZorvikMac [info] net.brontal.zorvik:mac fetch: nothing pending\n"
              "ZorvikMac [error] net.brontal.zorvik:mac fetch failed: no network\n"
              "ZorvikMac [info] net.brontal.zorvik:shell Zorvik: always echoed\n");
}

TEST(JournalSystemLog, WithoutAJournalEveryLineGoesToStderr) {
    CapturedStderr echoed;
    const auto noJournal = [](const JournalSystemLog::Entry&) { return false; };
    JournalSystemLog("ZorvikMac", false, noJournal)
        .write(LogLevel::info, "net.brontal.zorvik", "mac", "fetch: nothing pending");
    JournalSystemLog("ZorvikMac", false, noJournal)
        .write(LogLevel::error, "net.brontal.zorvik", "cloud", "push courier answered HTTP 503");
    EXPECT_EQ(echoed.text(),
              "ZorvikMac [info] net.brontal.zorvik:mac fetch: nothing pending\n"
              "ZorvikMac [error] net.brontal.zorvik:cloud push courier answered HTTP 503\n");
}

TEST(KernelBundleInfo, SystemVersionIsMajorMinorPatchOfTheRelease) {
    EXPECT_EQ(systemVersionFromKernelRelease("6.1.0-27-amd64"), "6.1.0");
    EXPECT_EQ(systemVersionFromKernelRelease("6.18"), "6.18.0");
    EXPECT_EQ(systemVersionFromKernelRelease("5.15.167.4-microsoft-standard-WSL2"), "5.15.167");
    EXPECT_EQ(systemVersionFromKernelRelease("linux"), "?");
    EXPECT_EQ(systemVersionFromKernelRelease(""), "?");
}

}  // namespace
