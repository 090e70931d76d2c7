#include <gtest/gtest.h>
#include <unistd.h>

#include <QFile>
#include <QTemporaryFile>
#include <cstdio>

#include "JournalSystemLog.h"

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

TEST(JournalSystemLog, EchoesLinesToStderrOnlyWhenAsked) {
    CapturedStderr echoed;
    JournalSystemLog("ZorvikMac", true)
        .write(LogLevel::info, "net.brontal.zorvik", "mac", "fetch: nothing pending");
    JournalSystemLog("ZorvikMac", true)
        .write(LogLevel::error, "net.brontal.zorvik", "mac", "fetch failed: no network");
    JournalSystemLog("ZorvikMac", false)
        .write(LogLevel::info, "net.brontal.zorvik", "mac", "not echoed");
    EXPECT_EQ(echoed.text(),
              "ZorvikMac [info] net.brontal.zorvik:mac fetch: nothing pending\n"
              "ZorvikMac [error] net.brontal.zorvik:mac fetch failed: no network\n");
}

}  // namespace
