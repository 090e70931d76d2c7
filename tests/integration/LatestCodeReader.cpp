// SPDX-License-Identifier: GPL-3.0-or-later
// Reads the latest-code file over and over, as the AutoFill helper would while the application
// replaces it, and counts what it saw: every read must give one whole record.
#include <QFile>
#include <cstdio>

#include "shared/LatestCodeStore.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: latest_code_reader LATEST_CODE_JSON STOP_FILE\n");
        return 2;
    }
    const LatestCodeStore store(QString::fromLocal8Bit(argv[1]));
    const QString stopFile = QString::fromLocal8Bit(argv[2]);
    long reads = 0;
    long whole = 0;
    QStringList codes;
    while (!QFile::exists(stopFile)) {
        ++reads;
        if (const auto code = store.load()) {
            ++whole;
            if (!codes.contains(code->code)) {
                codes.append(code->code);
            }
        }
    }
    std::printf("reads=%ld whole=%ld distinct=%lld\n", reads, whole,
                static_cast<long long>(codes.size()));
    return 0;
}
