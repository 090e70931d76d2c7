// SPDX-License-Identifier: GPL-3.0-or-later
#include <QByteArray>

#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "platform/Keychain.h"
#include "tools/zorvik-phone/CommandLine.h"
#include "tools/zorvik-phone/PhoneCommands.h"
#include "tools/zorvik-phone/PhoneToolSupport.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-phone key generate [--force]
       zorvik-phone key import [--force]    (base64 of 32 bytes on stdin)
       zorvik-phone key export
       zorvik-phone key delete

Manages the sync key in the keychain item (service net.brontal.zorvik.sync, account sync-key).
  --force   replace a key that is there already (generate, import)
)";

}  // namespace

int PhoneCommands::key(PhoneCommandContext& context, const QStringList& arguments) {
    if (context.answeredHelp(arguments, kUsage)) {
        return PhoneTool::ok;
    }
    QString error;
    const auto line = CommandLine::parse(arguments, {}, {QStringLiteral("force")}, error);
    if (!line) {
        return context.fail(PhoneTool::badInput, error);
    }
    if (line->positional().size() != 1) {
        return context.fail(PhoneTool::badInput,
                            QStringLiteral("key needs one of generate, import, export, delete"));
    }
    const QString action = line->positional().first();
    const Keychain::Query query = CloudSyncCrypto::syncKeyQuery();
    const bool force = line->has(QStringLiteral("force"));
    Keychain& keychain = context.keychain();

    if (action == u"generate" || action == u"import") {
        QByteArray key;
        if (action == u"generate") {
            key = SymmetricKey::random().bytes();
        } else {
            const auto decoded = QByteArray::fromBase64Encoding(
                context.io().readStdin().trimmed(), QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded || decoded.decoded.size() != AesGcm::keySize) {
                return context.fail(
                    PhoneTool::badInput,
                    QStringLiteral("stdin must hold the base64 of exactly 32 bytes"));
            }
            key = decoded.decoded;
        }
        if (force) {
            const auto removed = keychain.remove(query);
            if (removed != Keychain::success && removed != Keychain::itemNotFound) {
                return context.fail(PhoneTool::failed, Keychain::describe(removed));
            }
        }
        const auto added = keychain.add(query, key);
        if (added == Keychain::duplicateItem) {
            return context.fail(
                PhoneTool::failed,
                QStringLiteral("a sync key is in the keychain already; add --force to replace it"));
        }
        if (added != Keychain::success) {
            return context.fail(PhoneTool::failed, Keychain::describe(added));
        }
        context.io().writeStderr(QStringLiteral("zorvik-phone: sync key stored in the keychain\n"));
        return PhoneTool::ok;
    }
    if (force) {
        return context.fail(PhoneTool::badInput,
                            QStringLiteral("--force goes with generate or import"));
    }
    if (action == u"export") {
        const Keychain::Result result = keychain.copyMatching(query);
        if (result.status == Keychain::itemNotFound) {
            return context.fail(PhoneTool::failed,
                                QStringLiteral("there is no sync key in the keychain"));
        }
        if (result.status != Keychain::success || !result.data) {
            return context.fail(PhoneTool::failed, Keychain::describe(result.status));
        }
        context.io().writeStdout(result.data->toBase64() + '\n');
        return PhoneTool::ok;
    }
    if (action == u"delete") {
        const auto removed = keychain.remove(query);
        if (removed == Keychain::itemNotFound) {
            context.io().writeStderr(
                QStringLiteral("zorvik-phone: there was no sync key to delete\n"));
            return PhoneTool::ok;
        }
        if (removed != Keychain::success) {
            return context.fail(PhoneTool::failed, Keychain::describe(removed));
        }
        context.io().writeStderr(QStringLiteral("zorvik-phone: sync key deleted\n"));
        return PhoneTool::ok;
    }
    return context.fail(PhoneTool::badInput, QStringLiteral("unknown key action '%1'").arg(action));
}
