// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class QCoreApplication;
class QLocale;

// Puts the program's texts, and Qt's own (a text field's menu, say), in the user's language once
// the application object exists. Where no catalogue matches, the texts stay as written, in
// English: under the C locale, which the tests run in, nothing is installed.
void installTranslations(QCoreApplication& application);
// The same for a given locale, for the renderers and the tests.
void installTranslations(QCoreApplication& application, const QLocale& locale);
