// SPDX-License-Identifier: GPL-3.0-or-later
// Loads fuzzer input as latest-code.json. The AutoFill helper reads that file after another
// process wrote it, possibly half-way or with something else entirely, so load must turn any
// content into a code or nothing.

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

#include "shared/LatestCode.h"
#include "shared/LatestCodeStore.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

const QString& storePath() {
    static QTemporaryDir directory;
    static const QString path = [] {
        if (!directory.isValid()) {
            std::fprintf(stderr, "no temporary directory: %s\n",
                         qPrintable(directory.errorString()));
            std::abort();
        }
        return QDir(directory.path()).filePath(QStringLiteral("latest-code.json"));
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArrayView content(reinterpret_cast<const char*>(data), qsizetype(size));
    {
        QFile file(storePath());
        fuzzRequire(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                        file.write(content.data(), content.size()) == content.size(),
                    "writing the store file");
    }

    const std::optional<LatestCode> loaded = LatestCodeStore(storePath()).load();
    const std::optional<LatestCode> decoded = LatestCode::decode(content);
    fuzzRequire(loaded == decoded, "load() and decode() disagree on the same bytes");
    if (!decoded) {
        return 0;
    }

    // What the helper does next with a code it loaded.
    (void)decoded->displayCode();
    (void)decoded->domains();

    // Whatever was read can be written again and reads back the same.
    const auto encoded = decoded->encode();
    fuzzRequire(encoded.has_value(), "a loaded code cannot be encoded");
    fuzzRequire(LatestCode::decode(*encoded) == decoded, "decode(encode()) differs");
    return 0;
}
