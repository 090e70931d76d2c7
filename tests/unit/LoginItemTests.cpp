#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QFile>
#include <QTemporaryDir>

#include "XdgAutostartLoginItem.h"

namespace {

using Status = LoginItemService::Status;

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

class LoginItemTest : public testing::Test {
protected:
    QTemporaryDir config;
    QString autostart = config.filePath("autostart");
    XdgAutostartLoginItem item{autostart, "/opt/zorvik/bin/ZorvikMac"};
};

TEST_F(LoginItemTest, RegisterWritesAnAutostartEntryAndUnregisterRemovesIt) {
    EXPECT_EQ(item.status(), Status::notRegistered);
    item.registerApp();
    EXPECT_EQ(item.entryPath(), autostart + "/net.brontal.zorvik.desktop");
    const QByteArray entry = contentOf(item.entryPath());
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    for (const char* line :
         {"Type=Application\n", "Name=Zorvik\n", "Exec=\"/opt/zorvik/bin/ZorvikMac\"\n",
          "X-GNOME-Autostart-enabled=true\n"}) {
        EXPECT_TRUE(entry.contains(line)) << line;
    }
    EXPECT_EQ(item.status(), Status::enabled);
    item.unregisterApp();
    EXPECT_FALSE(QFile::exists(item.entryPath()));
    EXPECT_EQ(item.status(), Status::notRegistered);
    item.unregisterApp();  // nothing to remove is not a failure
}

TEST_F(LoginItemTest, AHiddenEntryIsNotEnabled) {
    item.registerApp();
    QFile file(item.entryPath());
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("Hidden=true\n");
    file.close();
    EXPECT_EQ(item.status(), Status::notRegistered);
    // Hidden in another group does not count.
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Desktop Entry]\nType=Application\nExec=x\n[Desktop Action quit]\nHidden=true\n");
    file.close();
    EXPECT_EQ(item.status(), Status::enabled);
}

TEST_F(LoginItemTest, FailureCarriesTheSystemsMessage) {
    // A file where the autostart directory should be: no user, root included, can write there.
    QFile blocker(autostart);
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    try {
        item.registerApp();
        FAIL() << "register succeeded";
    } catch (const LoginItemError& error) {
        EXPECT_FALSE(error.localizedDescription().isEmpty());
        EXPECT_TRUE(error.localizedDescription().contains(autostart))
            << error.localizedDescription().toStdString();
    }
    EXPECT_EQ(item.status(), Status::notRegistered);
}

TEST(DesktopEntryExec, QuotesWhatTheExecKeyWouldOtherwiseReadDifferently) {
    EXPECT_EQ(desktopEntryExec("/usr/bin/ZorvikMac"), "\"/usr/bin/ZorvikMac\"");
    EXPECT_EQ(desktopEntryExec("/home/a b/Zorvik$1`x`\"q\"%u\\z"),
              "\"/home/a b/Zorvik\\\\$1\\\\`x\\\\`\\\\\"q\\\\\"%%u\\\\\\\\z\"");
}

}  // namespace
