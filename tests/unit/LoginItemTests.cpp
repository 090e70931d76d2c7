// SPDX-License-Identifier: GPL-3.0-or-later
// GIO first: its headers name fields "signals", which Qt's keywords would turn into a macro.
#include <gio/gdesktopappinfo.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <memory>

#include "platform/linux/XdgAutostartLoginItem.h"

namespace {

using Status = LoginItemService::Status;

QByteArray contentOf(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
}

class LoginItemTest : public testing::Test {
protected:
    QTemporaryDir config;
    QString autostart = config.filePath("autostart");
    XdgAutostartLoginItem item{autostart, "/opt/zorvik/bin/ZorvikMac"};
};

// An entry hidden in its own group is not enabled; hidden in another group does not count.
TEST_F(LoginItemTest, RegisterWritesAnAutostartEntryAndUnregisterRemovesIt) {
    EXPECT_EQ(item.status(), Status::notRegistered);
    item.registerApp();
    EXPECT_EQ(item.entryPath(), autostart + "/net.brontal.zorvik.desktop");
    const QByteArray entry = contentOf(item.entryPath());
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\n"));
    for (const char* line :
         {"Type=Application\n", "Name=Zorvik\n", "Exec=\"/opt/zorvik/bin/ZorvikMac\"\n",
          "TryExec=/opt/zorvik/bin/ZorvikMac\n", "Icon=net.brontal.zorvik\n",
          "StartupNotify=false\n", "X-GNOME-Autostart-enabled=true\n"}) {
        EXPECT_TRUE(entry.contains(line)) << line;
    }
    EXPECT_EQ(item.status(), Status::enabled);
    writeFile(item.entryPath(), entry + "[Desktop Action quit]\nHidden=true\n");
    EXPECT_EQ(item.status(), Status::enabled);
    writeFile(item.entryPath(), entry + "Hidden=true\n");
    EXPECT_EQ(item.status(), Status::notRegistered);
    item.unregisterApp();
    EXPECT_FALSE(QFile::exists(item.entryPath()));
    item.unregisterApp();  // nothing to remove is not a failure
}

// A file where the autostart directory should be: no user, root included, can write there.
TEST_F(LoginItemTest, FailureCarriesTheSystemsMessage) {
    writeFile(autostart, {});
    try {
        item.registerApp();
        FAIL() << "register succeeded";
    } catch (const LoginItemError& error) {
        EXPECT_TRUE(error.localizedDescription().contains(autostart))
            << error.localizedDescription().toStdString();
    }
    EXPECT_EQ(item.status(), Status::notRegistered);
}

// Line breaks and tabs are written as the string escapes.
TEST(DesktopEntryExec, QuotesWhatTheExecKeyWouldOtherwiseReadDifferently) {
    EXPECT_EQ(desktopEntryExec("/usr/bin/ZorvikMac"), "\"/usr/bin/ZorvikMac\"");
    EXPECT_EQ(desktopEntryExec("/home/a b/Zorvik$1`x`\"q\"%u\\z"),
              "\"/home/a b/Zorvik\\\\$1\\\\`x\\\\`\\\\\"q\\\\\"%%u\\\\\\\\z\"");
    EXPECT_EQ(desktopEntryExec("/a\nb\tc\rd"), "\"/a\\nb\\tc\\rd\"");
    EXPECT_EQ(desktopEntryString("/a b\\c\nd\te\rf%$\""), "/a b\\\\c\\nd\\te\\rf%$\"");
}

std::unique_ptr<GDesktopAppInfo, void (*)(gpointer)> loadAsTheSession(const QString& path) {
    return {g_desktop_app_info_new_from_filename(QFile::encodeName(path).constData()),
            g_object_unref};
}

// The Exec value as the session runs it: the string escapes undone, "%%" as "%", and the quoting
// of its one argument undone the way the shell does.
QStringList execArguments(GDesktopAppInfo* info) {
    gchar* exec = g_desktop_app_info_get_string(info, "Exec");
    QByteArray commandLine(exec);
    g_free(exec);
    commandLine.replace("%%", "%");
    gchar** argv = nullptr;
    QStringList arguments;
    if (g_shell_parse_argv(commandLine.constData(), nullptr, &argv, nullptr)) {
        for (gchar** argument = argv; *argument != nullptr; ++argument) {
            arguments.append(QFile::decodeName(*argument));
        }
        g_strfreev(argv);
    }
    return arguments;
}

// What a session that starts the entries (GNOME's, through GIO) reads from ours. A folder name
// may hold what the Exec key treats specially, but for the percent sign: GIO looks for the
// program named by the Exec value before it turns "%%" into "%", so it passes over any entry
// whose program has one in its path.
TEST(AutostartEntryAsTheSessionReadsIt, StartsTheApplicationWhereverItIsInstalled) {
    QTemporaryDir root;
    const QString binDirectory = root.filePath("My Apps/$HOME `id` \"q\" back\\slash\ttab/bin");
    ASSERT_TRUE(QDir().mkpath(binDirectory));
    const QString executable = binDirectory + "/ZorvikMac";
    writeFile(executable, "#!/bin/sh\n");
    ASSERT_TRUE(QFile::setPermissions(executable, QFileDevice::ReadOwner | QFileDevice::ExeOwner));

    XdgAutostartLoginItem item(root.filePath("autostart"), executable);
    item.registerApp();
    const auto info = loadAsTheSession(item.entryPath());
    ASSERT_NE(info, nullptr) << "GIO passed over the entry";
    EXPECT_EQ(execArguments(info.get()), QStringList{executable});
    EXPECT_STREQ(g_app_info_get_name(G_APP_INFO(info.get())), "Zorvik");

    // Once the application is gone, TryExec tells the session to leave the entry alone.
    ASSERT_TRUE(QFile::remove(executable));
    EXPECT_EQ(loadAsTheSession(item.entryPath()), nullptr);
}

}  // namespace
