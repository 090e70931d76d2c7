// SPDX-License-Identifier: GPL-3.0-or-later
// What one code costs on its way in: the phone seals it, the desktop opens it.

#include <benchmark/benchmark.h>

#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "ZorvikMac/CodeIntake/SymmetricKey.h"
#include "platform/AesGcm.h"
#include "shared/Iso8601.h"

namespace {

SymmetricKey benchKey() {
    return *SymmetricKey::fromBytes(QByteArray(AesGcm::keySize, 'k'));
}

PendingCode typicalCode() {
    return PendingCode{QUuid::fromString(u"E621E1F8-C36C-495A-93FC-0C247A3E6E5F"),
                       QStringLiteral("Work GitHub"),
                       QStringLiteral("github"),
                       QStringLiteral("123456"),
                       *Iso8601::parse(u"2026-03-01T12:00:00Z"),
                       *Iso8601::parse(u"2026-03-01T12:01:30Z"),
                       QStringLiteral("iPhone")};
}

void BM_PendingCodeSealAndOpen(benchmark::State& state) {
    const SymmetricKey key = benchKey();
    const PendingCode code = typicalCode();
    for (auto _ : state) {
        const QByteArray blob = code.seal(key);
        benchmark::DoNotOptimize(PendingCode::open(blob, key));
    }
}
BENCHMARK(BM_PendingCodeSealAndOpen);

void BM_PendingCodeOpen(benchmark::State& state) {
    const SymmetricKey key = benchKey();
    const QByteArray blob = typicalCode().seal(key);
    for (auto _ : state) {
        benchmark::DoNotOptimize(PendingCode::open(blob, key));
    }
    state.SetBytesProcessed(state.iterations() * blob.size());
}
BENCHMARK(BM_PendingCodeOpen);

void BM_PendingCodeDecode(benchmark::State& state) {
    const QByteArray json = typicalCode().encode();
    for (auto _ : state) {
        benchmark::DoNotOptimize(PendingCode::decode(json));
    }
    state.SetBytesProcessed(state.iterations() * json.size());
}
BENCHMARK(BM_PendingCodeDecode);

}  // namespace
