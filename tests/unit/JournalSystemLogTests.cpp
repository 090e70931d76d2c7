#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryFile>
#include <cstdio>

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

TEST(JournalSystemLog, EchoesLinesToStderrWhenAskedAndTheShellsAlways) {
    CapturedStderr echoed;
    JournalSystemLog("ZorvikMac", true)
        .write(LogLevel::info, "net.brontal.zorvik", "mac", "fetch: nothing pending");
    JournalSystemLog("ZorvikMac", true)
        .write(LogLevel::error, "net.brontal.zorvik", "mac", "fetch failed: no network");
    JournalSystemLog("ZorvikMac", false)
        .write(LogLevel::info, "net.brontal.zorvik", "mac", "not echoed");
    JournalSystemLog("ZorvikMac", false)
        .write(LogLevel::info, "net.brontal.zorvik", "shell", "Zorvik: always echoed");
    EXPECT_EQ(echoed.text(),
              "ZorvikMac [info] net.brontal.zorvik:mac fetch: nothing pending\n"
              "ZorvikMac [error] net.brontal.zorvik:mac fetch failed: no network\n"
              "ZorvikMac [info] net.brontal.zorvik:shell Zorvik: always echoed\n");
}

TEST(KernelBundleInfo, SystemVersionIsMajorMinorPatchOfTheRelease) {
    EXPECT_EQ(systemVersionFromKernelRelease("6.1.0-27-amd64"), "6.1.0");
    EXPECT_EQ(systemVersionFromKernelRelease("6.18"), "6.18.0");
    EXPECT_EQ(systemVersionFromKernelRelease("5.15.167.4-microsoft-standard-WSL2"), "5.15.167");
    EXPECT_EQ(systemVersionFromKernelRelease("linux"), "?");
    EXPECT_EQ(systemVersionFromKernelRelease(""), "?");
}

}  // namespace
