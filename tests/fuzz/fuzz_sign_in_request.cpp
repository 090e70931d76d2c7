// SPDX-License-Identifier: GPL-3.0-or-later
// Reads fuzzer input as the head of a request to the sign-in listener on 127.0.0.1. Any local
// program or web page can send one, so the parser must never crash, never make a token out of
// a request that carries none, and read back exactly the token a browser sends.
//
// The input is used twice: as a whole request head, and as a token that a well-formed callback
// carries, percent-encoded as the sign-in page sends it (and raw when it is plain base64). A
// token is visible ASCII (base64 or its URL-safe kind): such a token must come back exactly, and
// any other must be refused, never changed into something else.

#include <QByteArray>
#include <QString>
#include <algorithm>
#include <cstdint>
#include <variant>

#include "platform/linux/cloud/LoopbackSignIn.h"
#include "tests/fuzz/FuzzCheck.h"

namespace {

bool isVisibleAscii(const QByteArray& bytes) {
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return c > ' ' && c < 0x7f; });
}

bool sameOutcome(const LoopbackSignIn::Request& a, const LoopbackSignIn::Request& b) {
    return a.isCallback == b.isCallback && a.outcome == b.outcome;
}

void checkHead(const QByteArray& head) {
    const LoopbackSignIn::Request request = LoopbackSignIn::parseRequest(head);
    const auto* token = std::get_if<QByteArray>(&request.outcome);
    if (!token) {
        fuzzRequire(!std::get<QString>(request.outcome).isEmpty(), "a problem that says nothing");
        return;
    }
    fuzzRequire(!token->isEmpty(), "an empty token");
    fuzzRequire(isVisibleAscii(*token), "a token that is not visible ASCII");
    fuzzRequire(request.isCallback, "a token from a request that is not the callback");
    fuzzRequire(head.startsWith("GET "), "a token from a request that is no GET");
    // Percent-decoding first: an escaped name or path is the same name or path.
    const QByteArray decoded = QByteArray::fromPercentEncoding(head);
    fuzzRequire(decoded.contains("ckWebAuthToken=") || decoded.contains("ckSession="),
                "a token from a request that names none");
    fuzzRequire(decoded.contains(LoopbackSignIn::callbackPath),
                "a token from a request to another path");

    // Only the request line carries the token; header fields must not change what it says.
    const qsizetype lineEnd = head.indexOf("\r\n");
    if (lineEnd >= 0) {
        fuzzRequire(sameOutcome(LoopbackSignIn::parseRequest(head.left(lineEnd)), request),
                    "header fields changed what the request line says");
    }
}

void checkCallbackCarrying(const QByteArray& sent) {
    if (sent.isEmpty()) {
        return;
    }
    for (const char* name : {"ckWebAuthToken", "ckSession"}) {
        const QByteArray head = QByteArray("GET /zorvik-signin?state=x&") + name + '=' +
                                sent.toPercentEncoding() + " HTTP/1.1\r\nHost: 127.0.0.1:1\r\n";
        const LoopbackSignIn::Request request = LoopbackSignIn::parseRequest(head);
        fuzzRequire(request.isCallback, "a callback not recognised");
        const auto* token = std::get_if<QByteArray>(&request.outcome);
        if (!isVisibleAscii(sent)) {
            fuzzRequire(token == nullptr, "a token that is not visible ASCII was taken");
            return;
        }
        fuzzRequire(token != nullptr, "a callback with a token gives none");
        fuzzRequire(*token == sent, "the token read is not the token sent");
    }
    // Unescaped, as a page might send it: base64's "+", "/" and "=" must survive as they are.
    for (const char c : sent) {
        const bool base64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
        if (!base64) {
            return;
        }
    }
    const LoopbackSignIn::Request raw = LoopbackSignIn::parseRequest(
        "GET /zorvik-signin?ckWebAuthToken=" + sent + " HTTP/1.1\r\nHost: 127.0.0.1:1\r\n");
    const auto* token = std::get_if<QByteArray>(&raw.outcome);
    fuzzRequire(token != nullptr && *token == sent, "an unescaped base64 token changed");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    checkHead(bytes);
    checkCallbackCarrying(bytes);
    return 0;
}
