// SPDX-License-Identifier: GPL-3.0-or-later
// Feeds fuzzer input to the AutoFill helper's reading side as the browser's byte stream: the
// first byte picks how the stream is cut into reads, the rest is the stream. Every message that
// comes out is parsed as a request. Nothing may crash, a refused message must say why, and an
// accepted one must carry an id to answer.

#include <cstdint>

#include "ZorvikMacAutoFill/Host/FrameReader.h"
#include "ZorvikMacAutoFill/Host/HostRequest.h"
#include "tests/fuzz/FuzzCheck.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const qsizetype piece = 1 + data[0] % 64;
    const QByteArrayView stream(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    FrameReader reader;
    qsizetype taken = 0;
    for (qsizetype at = 0; at < stream.size(); at += piece) {
        const QByteArrayView bytes = stream.sliced(at, std::min(piece, stream.size() - at));
        reader.append(bytes);
        taken += bytes.size();
        while (auto item = reader.next()) {
            if (const auto* frame = std::get_if<QByteArray>(&*item)) {
                fuzzRequire(frame->size() <= qsizetype(FrameReader::maximumFrameSize),
                            "a message over the limit came through");
                const auto parsed = parseHostRequest(*frame);
                if (const auto* error = std::get_if<HostRequestError>(&parsed)) {
                    fuzzRequire(!error->message.isEmpty(), "a refusal without a reason");
                } else {
                    const auto& request = std::get<HostRequest>(parsed);
                    fuzzRequire(!request.id.isNull() && !request.id.isUndefined(),
                                "an accepted request without an id");
                }
            } else {
                fuzzRequire(std::get<FrameReader::OversizedFrame>(*item).length >
                                FrameReader::maximumFrameSize,
                            "a message within the limit was refused");
            }
        }
    }
    fuzzRequire(taken == stream.size(), "the reads did not cover the stream");
    return 0;
}
