// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QLocale>
#include <QTranslator>

#include "ZorvikMac/Readiness/SetupRow.h"
#include "shared/AppTranslations.h"
#include "tests/support/QStringPrinter.h"

namespace {

// Each case installs what the user's language asks for and takes it away again, so that the
// other tests of this program keep their English texts.
class AppTranslations : public testing::Test {
protected:
    void TearDown() override {
        for (QTranslator* translator : QCoreApplication::instance()->findChildren<QTranslator*>()) {
            QCoreApplication::removeTranslator(translator);
            delete translator;
        }
    }
};

TEST_F(AppTranslations, UnderTheCLocaleNothingIsInstalledAndTextsStayAsWritten) {
    installTranslations(*QCoreApplication::instance(), QLocale::c());
    EXPECT_TRUE(QCoreApplication::instance()->findChildren<QTranslator*>().isEmpty());
    EXPECT_EQ(setupSummary({}), "all good");
    EXPECT_EQ(clockOffsetText(-2 * 3600),
              "This computer's clock is about 2 hours behind your iPhone's: set it automatically "
              "in the system's date and time settings, or with \"timedatectl set-ntp true\"");
}

TEST_F(AppTranslations, GermanComesFromTheProgramItselfForAnyGermanLocaleWithQtsOwnTexts) {
    // A regional form finds the language's catalogue, which is built into the program.
    installTranslations(*QCoreApplication::instance(), QLocale(QStringLiteral("de_AT")));
    EXPECT_EQ(setupSummary({}), "alles in Ordnung");
    EXPECT_EQ(clockOffsetText(60),
              "Die Uhr dieses Computers geht etwa 1 Minute vor gegenüber "
              "Ihrem iPhone, daher kommen Codes abgelaufen an: stellen Sie "
              "sie in den Datums- und Zeiteinstellungen des Systems auf "
              "automatisch oder mit „timedatectl set-ntp true“");
    EXPECT_EQ(clockOffsetText(-3 * 86400).section(QLatin1Char(':'), 0, 0),
              "Die Uhr dieses Computers geht etwa 3 Tage nach gegenüber Ihrem iPhone");
    // A text field's menu, which Qt draws, speaks the same language.
    EXPECT_EQ(QCoreApplication::translate("QLineEdit", "&Copy"), "&Kopieren");
}

TEST_F(AppTranslations, ALanguageWithoutACatalogueKeepsTheEnglishTexts) {
    installTranslations(*QCoreApplication::instance(), QLocale(QStringLiteral("sw_KE")));
    EXPECT_EQ(setupSummary({}), "all good");
}

}  // namespace
