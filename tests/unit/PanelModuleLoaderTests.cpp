// SPDX-License-Identifier: GPL-3.0-or-later
// Where the helper looks for its panel module, and what it says when the module is not there or
// not one.
#include <gtest/gtest.h>

#include <QFile>
#include <QLibraryInfo>
#include <QTemporaryDir>

#include "ZorvikMacAutoFill/Host/PanelModuleLoader.h"
#include "platform/linux/RunningExecutable.h"
#include "tests/support/QStringPrinter.h"

namespace {

TEST(PanelModuleLoader, LooksBesideTheHelperThenInTheInstalledFolderRelativeToIt) {
    EXPECT_EQ(PanelModuleLoader::candidates("/usr/bin/ZorvikMacAutoFill",
                                            "../lib/x86_64-linux-gnu/zorvik"),
              (QStringList{"/usr/bin/zorvik-autofill-panel.so",
                           "/usr/lib/x86_64-linux-gnu/zorvik/zorvik-autofill-panel.so"}));
    EXPECT_EQ(PanelModuleLoader::candidates("/opt/my apps/bin/ZorvikMacAutoFill", "../lib/zorvik"),
              (QStringList{"/opt/my apps/bin/zorvik-autofill-panel.so",
                           "/opt/my apps/lib/zorvik/zorvik-autofill-panel.so"}));
    // Never from the working folder: an unknown or relative place of the helper finds nothing.
    for (const QString& unknown :
         {QString(), QString("ZorvikMacAutoFill"), QString("bin/ZorvikMacAutoFill")}) {
        EXPECT_EQ(PanelModuleLoader::candidates(unknown, "../lib/zorvik"), QStringList())
            << unknown.toStdString();
    }
    EXPECT_EQ(PanelModuleLoader::load({}).problem,
              "the helper's own folder is unknown, so zorvik-autofill-panel.so is not looked for");
}

TEST(PanelModuleLoader, TheRunningProgramIsFoundWhereverTheWorkingFolderIs) {
    const QString self = runningExecutable();
    EXPECT_TRUE(self.startsWith('/')) << self.toStdString();
    EXPECT_TRUE(QFileInfo(self).isExecutable()) << self.toStdString();
}

TEST(PanelModuleLoader, SaysWhyWhenTheModuleIsMissingOrNotOne) {
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString beside = directory.filePath("bin/zorvik-autofill-panel.so");
    const QString installed = directory.filePath("lib/zorvik/zorvik-autofill-panel.so");

    PanelModuleLoader::Result missing = PanelModuleLoader::load({beside, installed});
    EXPECT_EQ(missing.entry, nullptr);
    EXPECT_EQ(missing.problem,
              "zorvik-autofill-panel.so is missing: not at " + beside + " nor at " + installed);

    // The first that exists is the one loaded: a broken module is not passed over.
    ASSERT_TRUE(QDir().mkpath(directory.filePath("lib/zorvik")));
    QFile text(installed);
    ASSERT_TRUE(text.open(QIODevice::WriteOnly) && text.write("not a library") > 0);
    text.close();
    const PanelModuleLoader::Result broken = PanelModuleLoader::load({beside, installed});
    EXPECT_EQ(broken.entry, nullptr);
    EXPECT_TRUE(broken.problem.contains(installed)) << broken.problem.toStdString();

    // A real library, but not ours.
    const QString qtCore =
        QLibraryInfo::path(QLibraryInfo::LibrariesPath) + QStringLiteral("/libQt6Core.so.6");
    const PanelModuleLoader::Result other = PanelModuleLoader::load({beside, qtCore, installed});
    EXPECT_EQ(other.entry, nullptr);
    EXPECT_EQ(other.problem, qtCore +
                                 " is not the panel module of this version of the helper "
                                 "(it has no zorvik_autofill_interface_1)");
}

TEST(PanelModuleLoader, TheBuiltModuleHasTheEntryPoint) {
    const PanelModuleLoader::Result built =
        PanelModuleLoader::load({QStringLiteral(ZORVIK_PANEL_MODULE_PATH)});
    EXPECT_NE(built.entry, nullptr) << built.problem.toStdString();
    EXPECT_TRUE(built.problem.isEmpty());
}

}  // namespace
