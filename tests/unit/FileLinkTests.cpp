// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "platform/linux/QSettingsUserDefaults.h"
#include "platform/linux/XdgAppGroupContainers.h"
#include "shared/AtomicFile.h"
#include "shared/Iso8601.h"
#include "shared/LatestCodeStore.h"
#include "tests/support/FileMode.h"
#include "tests/support/QStringPrinter.h"
#include "tests/support/TemporaryAppGroupContainers.h"

// A symbolic link where one of our files or folders should be is never followed: a write
// replaces the link and leaves its target alone, a read finds nothing, a container folder that
// is a link is not used, and each is told once.
namespace {

LatestCode sample(const QString& code) {
    return LatestCode{"Work GitHub",
                      std::nullopt,
                      code,
                      "iPhone",
                      *Iso8601::parse(u"2026-03-01T12:00:00Z"),
                      *Iso8601::parse(u"2026-03-01T12:00:02Z"),
                      *Iso8601::parse(u"2099-03-01T12:01:30Z")};
}

void writeFile(const QString& path, const QByteArray& bytes, QFileDevice::Permissions mode) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(bytes), bytes.size());
    file.close();
    ASSERT_TRUE(file.setPermissions(mode));
}

class FileLinks : public testing::Test {
protected:
    FileLinks() {
        AtomicFile::setFaultNotice([this](const QString& text) { notices.append(text); });
    }
    ~FileLinks() override { AtomicFile::setFaultNotice({}); }

    QString elsewhere(const QString& name) const { return outside.filePath(name); }

    QTemporaryDir outside;
    TemporaryAppGroupContainers containers;
    LatestCodeStore store = *LatestCodeStore::make(containers);
    QStringList notices;
};

TEST_F(FileLinks, AWriteReplacesTheLinkAndLeavesItsTargetAlone) {
    AtomicFile::makeDirectories(QFileInfo(store.url()).path());
    // That the target keeps its content and mode, shared-files.sh checks with the running app.
    const QString victim = elsewhere("notes.txt");
    writeFile(victim, "the user's own notes", AtomicFile::ownerOnly);
    struct Case {
        const char* name;
        QString target;
    };
    for (const Case& link : {Case{"to a file", victim}, Case{"dangling", elsewhere("nowhere")}}) {
        SCOPED_TRACE(link.name);
        QFile::remove(store.url());
        ASSERT_TRUE(QFile::link(link.target, store.url()));
        store.save(sample("123456"));
        store.save(sample("654321"));
        const QFileInfo written(store.url());
        EXPECT_FALSE(written.isSymLink());
        EXPECT_TRUE(written.isFile());
        EXPECT_EQ(modeOf(store.url()), 0600);
        EXPECT_EQ(store.load()->code, "654321");
    }
    EXPECT_FALSE(QFileInfo::exists(elsewhere("nowhere")));
    EXPECT_EQ(notices.size(), 1) << "told once per file: " << notices.join(" | ").toStdString();
    EXPECT_TRUE(notices.value(0).startsWith(store.url() + " was a symbolic link"));
}

TEST_F(FileLinks, AReadFindsNothingThroughALink) {
    const QString valid = elsewhere("latest-code.json");
    LatestCodeStore(valid).save(sample("123456"));
    ASSERT_TRUE(LatestCodeStore(valid).load());
    AtomicFile::makeDirectories(QFileInfo(store.url()).path());
    ASSERT_TRUE(QFile::link(valid, store.url()));
    ASSERT_TRUE(QFile::link(elsewhere("marker"), store.filledURL()));
    writeFile(elsewhere("marker"), "1767225600.0", AtomicFile::ownerOnly);

    EXPECT_FALSE(store.load()) << "a code elsewhere is not taken for ours";
    EXPECT_FALSE(store.filledAt());
    EXPECT_EQ(notices, (QStringList{store.url() + " is a symbolic link: not read",
                                    store.filledURL() + " is a symbolic link: not read"}));
    // Clearing removes our links, not the files they point to.
    store.clear();
    EXPECT_FALSE(QFileInfo(store.url()).isSymLink());
    EXPECT_TRUE(LatestCodeStore(valid).load());
}

TEST_F(FileLinks, TheSettingsFileIsNotFollowed) {
    const QString shared = elsewhere("shared.conf");
    writeFile(shared, "[General]\nnotify=false\n", AtomicFile::ownerOnly);
    QTemporaryDir config;
    const QString path = config.filePath("ZorvikMac.conf");
    ASSERT_TRUE(QFile::link(shared, path));
    {
        QSettingsUserDefaults defaults(path);
        EXPECT_EQ(defaults.stringForKey("notify"), std::nullopt);
        defaults.setBool(true, "notify");
    }
    // Read back, as no read follows a link; the target is shared-files.sh's to check.
    EXPECT_EQ(QSettingsUserDefaults(path).boolForKey("notify"), true);
}

class ContainerFolders : public FileLinks {
protected:
    ContainerFolders() : saved_(qgetenv("XDG_RUNTIME_DIR")) {
        qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    }
    ~ContainerFolders() override { qputenv("XDG_RUNTIME_DIR", saved_); }

    std::optional<QString> container() const {
        return XdgAppGroupContainers().containerDirectory("group");
    }
    QString containerPath() const { return runtime.filePath("app/group"); }

    QTemporaryDir runtime;

private:
    QByteArray saved_;
};

TEST_F(ContainerFolders, OnlyAFolderOfOursIsUsedAndItIsMadeOwnerOnly) {
    EXPECT_EQ(container(), containerPath()) << "missing: made when first written";

    ASSERT_TRUE(QDir().mkpath(containerPath()));
    ASSERT_TRUE(QFile::setPermissions(
        containerPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                             QFileDevice::ReadOther | QFileDevice::ExeOther));
    EXPECT_EQ(container(), containerPath());
    EXPECT_EQ(modeOf(containerPath()), 0700);

    ASSERT_TRUE(QDir(containerPath()).removeRecursively());
    ASSERT_TRUE(QFile::link(outside.path(), containerPath()));
    EXPECT_EQ(container(), std::nullopt);
    ASSERT_TRUE(QFile::remove(containerPath()));
    writeFile(containerPath(), "", AtomicFile::ownerOnly);
    EXPECT_EQ(container(), std::nullopt);
    // mkpath made both folders as the umask says: both were tightened.
    EXPECT_EQ(notices,
              (QStringList{runtime.filePath("app") + " could be entered by other users: it is "
                                                     "now the user's own (0700)",
                           containerPath() + " could be entered by other users: it is now the "
                                             "user's own (0700)",
                           containerPath() + " is a symbolic link: the files shared with "
                                             "AutoFill are not kept there; remove it, and the "
                                             "app makes its own",
                           containerPath() + " is not a folder: the files shared with AutoFill "
                                             "are not kept there; remove it, and the app makes "
                                             "its own"}));
}

// A file is read whole up to the limit, whatever its size says when it is opened.
TEST(AtomicFileRead, ReadsTheWholeFileUpToTheLimitAndNoMore) {
    QTemporaryDir directory;
    const QString path = directory.filePath("file");
    for (const qsizetype size : {0, 1, 4095, 4096, 4097, 10000, 70000}) {
        const QByteArray content(size, 'x');
        writeFile(path, content, AtomicFile::ownerOnly);
        EXPECT_EQ(AtomicFile::read(path, 1 << 20), content) << size;
        EXPECT_EQ(AtomicFile::read(path, 5000), content.left(5000)) << size;
    }
    // A larger file gives the limit's worth.
    writeFile(path, QByteArray(2 << 20, 'y'), AtomicFile::ownerOnly);
    EXPECT_EQ(AtomicFile::read(path, 1 << 20)->size(), 1 << 20);
}

}  // namespace
