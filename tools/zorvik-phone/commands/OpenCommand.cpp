// SPDX-License-Identifier: GPL-3.0-or-later
#include <QByteArray>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "ZorvikMac/CodeIntake/PendingCode.h"
#include "platform/Error.h"
#include "tools/zorvik-phone/PhoneCommands.h"
#include "tools/zorvik-phone/PhoneToolSupport.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-phone open [--key-file PATH] [--base64]

Reads a sealed blob on stdin, opens it exactly as the desktop does and prints the code's
record as JSON. Prints the error's text and exits 1 when it cannot be opened.
  --key-file PATH   read the key (exactly 32 raw bytes) from PATH instead of the keychain
  --base64          the blob on stdin is base64
)";

}  // namespace

int PhoneCommands::open(PhoneCommandContext& context, const QStringList& arguments) {
    if (context.answeredHelp(arguments, kUsage)) {
        return PhoneTool::ok;
    }
    const auto line =
        context.parseOptions(arguments, {QStringLiteral("key-file")}, {QStringLiteral("base64")});
    if (!line) {
        return PhoneTool::badInput;
    }
    QByteArray blob = context.io().readStdin();
    if (line->has(QStringLiteral("base64"))) {
        const auto decoded =
            QByteArray::fromBase64Encoding(blob.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            return context.fail(PhoneTool::badInput, QStringLiteral("stdin is not base64"));
        }
        blob = decoded.decoded;
    }
    std::optional<SymmetricKey> key;
    if (const auto keyFile = line->value(QStringLiteral("key-file"))) {
        const KeySource source = context.readKey(keyFile);
        if (!source.key) {
            return context.fail(source.exitCode, source.problem);
        }
        key = source.key;
    }
    try {
        if (!key) {
            key = CloudSyncCrypto::loadSyncKey(context.keychain());
        }
        const PendingCode pending = PendingCode::open(blob, *key);
        context.io().writeStdout(pending.encode() + '\n');
        return PhoneTool::ok;
    } catch (const Error& openError) {
        context.io().writeStderr(openError.localizedDescription() + u'\n');
        return PhoneTool::failed;
    }
}
