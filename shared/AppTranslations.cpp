// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/AppTranslations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace {

void install(QCoreApplication& application, const QLocale& locale, const QString& name,
             const QString& directory) {
    auto* translator = new QTranslator(&application);
    // Tries each of the user's languages in order, the most specific form first (de_AT, de).
    if (translator->load(locale, name, QStringLiteral("_"), directory)) {
        QCoreApplication::installTranslator(translator);
    } else {
        delete translator;
    }
}

}  // namespace

void installTranslations(QCoreApplication& application) {
    installTranslations(application, QLocale());
}

void installTranslations(QCoreApplication& application, const QLocale& locale) {
    // Ours are built into the program; Qt's come with the system's Qt translations package.
    install(application, locale, QStringLiteral("zorvik"), QStringLiteral(":/i18n"));
    install(application, locale, QStringLiteral("qtbase"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath));
}
