// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

class Keychain;
class MainActor;
class SystemLog;
struct Clouds;

// The commands that answer at the terminal and end, rather than run the application.

// --pair: one offer, shown as a code to scan and as its text, until the phone's hand-off is
// stored (exit 0), the offer ends or a signal cancels it (exit 1). The running copy, if any,
// is left alone: it reads the keychain at every fetch, so it opens codes with the new key
// without being told.
int pairAtTerminal(MainActor& mainActor, SystemLog& systemLog, Keychain& keychain, Clouds& clouds);

// --diagnostics: the running copy's report (exit 0), or what this command can tell by itself
// (exit 3).
int printDiagnostics(int& argc, char** argv);
