// SPDX-License-Identifier: GPL-3.0-or-later
// The shared file's costs: the application saves each code through the atomic write (temporary
// file, permissions, rename), and the AutoFill helper loads it whenever a form asks.

#include <benchmark/benchmark.h>

#include <QDir>
#include <QTemporaryDir>

#include "shared/Iso8601.h"
#include "shared/LatestCode.h"
#include "shared/LatestCodeStore.h"

namespace {

LatestCode typicalCode() {
    return LatestCode{QStringLiteral("Work GitHub"),
                      QStringLiteral("github"),
                      QStringLiteral("123456"),
                      QStringLiteral("iPhone"),
                      *Iso8601::parse(u"2026-03-01T12:00:00Z"),
                      *Iso8601::parse(u"2026-03-01T12:00:02Z"),
                      *Iso8601::parse(u"2026-03-01T12:01:30Z")};
}

// A store in a fresh directory that disappears with the benchmark; the directory itself is
// created by the first save, as in a first run of the application.
struct ScratchStore {
    QTemporaryDir directory;
    LatestCodeStore store{
        QDir(directory.path()).filePath(QStringLiteral("group/latest-code.json"))};
};

void BM_LatestCodeStoreSaveThenLoad(benchmark::State& state) {
    ScratchStore scratch;
    if (!scratch.directory.isValid()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    const LatestCode code = typicalCode();
    for (auto _ : state) {
        scratch.store.save(code);
        benchmark::DoNotOptimize(scratch.store.load());
    }
}
BENCHMARK(BM_LatestCodeStoreSaveThenLoad);

void BM_LatestCodeStoreLoad(benchmark::State& state) {
    ScratchStore scratch;
    if (!scratch.directory.isValid()) {
        state.SkipWithError("no temporary directory");
        return;
    }
    scratch.store.save(typicalCode());
    for (auto _ : state) {
        benchmark::DoNotOptimize(scratch.store.load());
    }
}
BENCHMARK(BM_LatestCodeStoreLoad);

const Instant kFilledAt = *Iso8601::parse(u"2026-03-01T12:00:05Z") + std::chrono::milliseconds(250);

void BM_FormatFilledMarker(benchmark::State& state) {
    for (auto _ : state) {
        benchmark::DoNotOptimize(formatFilledMarker(kFilledAt));
    }
}
BENCHMARK(BM_FormatFilledMarker);

void BM_ParseFilledMarker(benchmark::State& state) {
    const QByteArray marker = formatFilledMarker(kFilledAt);
    for (auto _ : state) {
        benchmark::DoNotOptimize(parseFilledMarker(marker));
    }
}
BENCHMARK(BM_ParseFilledMarker);

}  // namespace
