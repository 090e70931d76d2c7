#include "PhoneTool.h"

#include <QFile>
#include <cmath>

#include "CloudSyncCrypto.h"
#include "CommandLine.h"
#include "Iso8601.h"
#include "Keychain.h"
#include "PendingCode.h"

namespace {

const char* const kUsage = R"(Usage: zorvik-phone COMMAND [OPTIONS]

Plays the companion phone: holds the sync key and seals one-time codes for the desktop.

Commands:
  key generate [--force]   put a new random sync key into the keychain
  key import [--force]     put the base64 sync key read from stdin into the keychain
  key export               print the sync key in base64
  key delete               remove the sync key from the keychain
  seal ...                 seal a code; the blob goes to stdout
  open ...                 open a blob from stdin the way the desktop does

Run 'zorvik-phone COMMAND --help' for the options of a command.
Exit status: 0 done, 1 the operation failed, 2 bad input.
)";

const char* const kKeyUsage = R"(Usage: zorvik-phone key generate [--force]
       zorvik-phone key import [--force]    (base64 of 32 bytes on stdin)
       zorvik-phone key export
       zorvik-phone key delete

Manages the sync key in the keychain item (service net.brontal.zorvik.sync, account sync-key).
  --force   replace a key that is there already (generate, import)
)";

const char* const kSealUsage = R"(Usage: zorvik-phone seal --account NAME --code CODE [OPTIONS]

Seals a code with the sync key and writes the blob to stdout.
  --account NAME        account name shown to the user (required)
  --code CODE           the one-time code (required)
  --service ID          service key, for example github
  --device NAME         sending device (default: iPhone)
  --account-id UUID     the account's identifier (default: a fresh one)
  --issued ISO          issue time, like 2026-01-02T03:04:05Z (default: now)
  --expires ISO         expiry time (default: 90 seconds after issue)
  --ttl SECONDS         expiry as seconds after issue (instead of --expires)
  --key-file PATH       read the key (exactly 32 raw bytes) from PATH instead of the keychain
  --base64              write the blob in base64 with a line end
)";

const char* const kOpenUsage = R"(Usage: zorvik-phone open [--key-file PATH] [--base64]

Reads a sealed blob on stdin, opens it exactly as the desktop does and prints the code's
record as JSON. Prints the error's text and exits 1 when it cannot be opened.
  --key-file PATH   read the key (exactly 32 raw bytes) from PATH instead of the keychain
  --base64          the blob on stdin is base64
)";

constexpr double kDefaultLifetime = 90;

bool wantsHelp(const QStringList& arguments) {
    return arguments.contains(QStringLiteral("--help")) || arguments.contains(QStringLiteral("-h"));
}

}  // namespace

int PhoneTool::fail(int code, const QString& message) {
    io_.writeStderr(QStringLiteral("zorvik-phone: ") + message + u'\n');
    return code;
}

int PhoneTool::run(const QStringList& arguments) {
    if (arguments.isEmpty()) {
        io_.writeStderr(QString::fromUtf8(kUsage));
        return badInput;
    }
    const QString command = arguments.first();
    const QStringList rest = arguments.mid(1);
    if (command == u"--help" || command == u"-h" || command == u"help") {
        io_.writeStdout(kUsage);
        return ok;
    }
    if (command == u"key") {
        return key(rest);
    }
    if (command == u"seal") {
        return seal(rest);
    }
    if (command == u"open") {
        return open(rest);
    }
    return fail(badInput, QStringLiteral("unknown command '%1' (see --help)").arg(command));
}

namespace {

// The key from --key-file, or from the keychain the way the desktop reads it. Reports the
// problem and answers nothing when there is no usable key.
struct KeySource {
    std::optional<SymmetricKey> key;
    int exitCode = 0;
    QString problem;
};

KeySource readKey(const std::optional<QString>& keyFile, Keychain& keychain) {
    if (keyFile) {
        QFile file(*keyFile);
        if (!file.open(QIODevice::ReadOnly)) {
            return {std::nullopt, PhoneTool::badInput,
                    QStringLiteral("cannot read the key file %1: %2")
                        .arg(*keyFile, file.errorString())};
        }
        const auto key = SymmetricKey::fromBytes(file.read(AesGcm::keySize + 1));
        if (!key) {
            return {std::nullopt, PhoneTool::badInput,
                    QStringLiteral("the key file %1 must hold exactly 32 bytes").arg(*keyFile)};
        }
        return {key, PhoneTool::ok, {}};
    }
    try {
        return {CloudSyncCrypto::loadSyncKey(keychain), PhoneTool::ok, {}};
    } catch (const CloudSyncCrypto::Error& error) {
        if (error.kind() == CloudSyncCrypto::Error::Kind::noKeyYet) {
            return {std::nullopt, PhoneTool::badInput,
                    QStringLiteral("there is no sync key in the keychain (run 'zorvik-phone key "
                                   "generate')")};
        }
        return {std::nullopt, PhoneTool::failed,
                QStringLiteral("keychain error %1").arg(error.status())};
    }
}

}  // namespace

int PhoneTool::key(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kKeyUsage);
        return ok;
    }
    QString error;
    const auto line = CommandLine::parse(arguments, {}, {QStringLiteral("force")}, error);
    if (!line) {
        return fail(badInput, error);
    }
    if (line->positional().size() != 1) {
        return fail(badInput, QStringLiteral("key needs one of generate, import, export, delete"));
    }
    const QString action = line->positional().first();
    const Keychain::Query query = CloudSyncCrypto::syncKeyQuery();
    const bool force = line->has(QStringLiteral("force"));

    if (action == u"generate" || action == u"import") {
        QByteArray key;
        if (action == u"generate") {
            key = SymmetricKey::random().bytes();
        } else {
            const auto decoded = QByteArray::fromBase64Encoding(
                io_.readStdin().trimmed(), QByteArray::AbortOnBase64DecodingErrors);
            if (!decoded || decoded.decoded.size() != AesGcm::keySize) {
                return fail(badInput,
                            QStringLiteral("stdin must hold the base64 of exactly 32 bytes"));
            }
            key = decoded.decoded;
        }
        if (force) {
            const auto removed = keychain_.remove(query);
            if (removed != Keychain::success && removed != Keychain::itemNotFound) {
                return fail(failed, QStringLiteral("keychain error %1").arg(removed));
            }
        }
        const auto added = keychain_.add(query, key);
        if (added == Keychain::duplicateItem) {
            return fail(
                failed,
                QStringLiteral("a sync key is in the keychain already; add --force to replace it"));
        }
        if (added != Keychain::success) {
            return fail(failed, QStringLiteral("keychain error %1").arg(added));
        }
        io_.writeStderr(QStringLiteral("zorvik-phone: sync key stored in the keychain\n"));
        return ok;
    }
    if (line->has(QStringLiteral("force"))) {
        return fail(badInput, QStringLiteral("--force goes with generate or import"));
    }
    if (action == u"export") {
        const Keychain::Result result = keychain_.copyMatching(query);
        if (result.status == Keychain::itemNotFound) {
            return fail(failed, QStringLiteral("there is no sync key in the keychain"));
        }
        if (result.status != Keychain::success || !result.data) {
            return fail(failed, QStringLiteral("keychain error %1").arg(result.status));
        }
        io_.writeStdout(result.data->toBase64() + '\n');
        return ok;
    }
    if (action == u"delete") {
        const auto removed = keychain_.remove(query);
        if (removed == Keychain::itemNotFound) {
            io_.writeStderr(QStringLiteral("zorvik-phone: there was no sync key to delete\n"));
            return ok;
        }
        if (removed != Keychain::success) {
            return fail(failed, QStringLiteral("keychain error %1").arg(removed));
        }
        io_.writeStderr(QStringLiteral("zorvik-phone: sync key deleted\n"));
        return ok;
    }
    return fail(badInput, QStringLiteral("unknown key action '%1'").arg(action));
}

int PhoneTool::seal(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kSealUsage);
        return ok;
    }
    QString error;
    const auto line = CommandLine::parse(
        arguments,
        {QStringLiteral("account"), QStringLiteral("code"), QStringLiteral("service"),
         QStringLiteral("device"), QStringLiteral("account-id"), QStringLiteral("issued"),
         QStringLiteral("expires"), QStringLiteral("ttl"), QStringLiteral("key-file")},
        {QStringLiteral("base64")}, error);
    if (!line) {
        return fail(badInput, error);
    }
    if (!line->positional().isEmpty()) {
        return fail(badInput,
                    QStringLiteral("unexpected argument '%1'").arg(line->positional().first()));
    }
    const auto account = line->value(QStringLiteral("account"));
    const auto code = line->value(QStringLiteral("code"));
    if (!account || !code) {
        return fail(badInput, QStringLiteral("seal needs --account and --code"));
    }

    PendingCode pending;
    pending.accountName = *account;
    pending.code = *code;
    pending.serviceID = line->value(QStringLiteral("service"));
    pending.fromDevice = line->value(QStringLiteral("device")).value_or(QStringLiteral("iPhone"));

    if (const auto id = line->value(QStringLiteral("account-id"))) {
        pending.accountID = QUuid::fromString(*id);
        if (pending.accountID.isNull() || id->size() != 36) {
            return fail(badInput, QStringLiteral("--account-id must be a UUID like "
                                                 "E621E1F8-C36C-495A-93FC-0C247A3E6E5F"));
        }
    } else {
        pending.accountID = QUuid::createUuid();
    }

    if (const auto issued = line->value(QStringLiteral("issued"))) {
        const auto instant = Iso8601::parse(*issued);
        if (!instant) {
            return fail(badInput,
                        QStringLiteral("--issued must be a date like 2026-01-02T03:04:05Z"));
        }
        pending.issuedAt = *instant;
    } else {
        pending.issuedAt = std::chrono::floor<std::chrono::seconds>(now_());
    }

    const auto expires = line->value(QStringLiteral("expires"));
    const auto ttl = line->value(QStringLiteral("ttl"));
    if (expires && ttl) {
        return fail(badInput, QStringLiteral("give --expires or --ttl, not both"));
    }
    if (expires) {
        const auto instant = Iso8601::parse(*expires);
        if (!instant) {
            return fail(badInput,
                        QStringLiteral("--expires must be a date like 2026-01-02T03:04:05Z"));
        }
        pending.expiresAt = *instant;
    } else {
        double seconds = kDefaultLifetime;
        if (ttl) {
            bool isNumber = false;
            seconds = ttl->toDouble(&isNumber);
            if (!isNumber || !std::isfinite(seconds) || std::fabs(seconds) > 1e9) {
                return fail(badInput, QStringLiteral("--ttl must be a number of seconds"));
            }
        }
        pending.expiresAt = addingSeconds(pending.issuedAt, seconds);
    }
    if (!Iso8601::format(pending.issuedAt) || !Iso8601::format(pending.expiresAt)) {
        return fail(badInput, QStringLiteral("the dates must lie in the years 0000 to 9999"));
    }

    const bool base64 = line->has(QStringLiteral("base64"));
    if (!base64 && io_.stdoutIsTerminal) {
        return fail(badInput,
                    QStringLiteral("the blob is binary: redirect stdout or add --base64"));
    }
    const KeySource source = readKey(line->value(QStringLiteral("key-file")), keychain_);
    if (!source.key) {
        return fail(source.exitCode, source.problem);
    }
    try {
        const QByteArray blob = pending.seal(*source.key);
        io_.writeStdout(base64 ? blob.toBase64() + '\n' : blob);
    } catch (const Error& sealError) {
        return fail(failed, sealError.localizedDescription());
    }
    return ok;
}

int PhoneTool::open(const QStringList& arguments) {
    if (wantsHelp(arguments)) {
        io_.writeStdout(kOpenUsage);
        return ok;
    }
    QString error;
    const auto line = CommandLine::parse(arguments, {QStringLiteral("key-file")},
                                         {QStringLiteral("base64")}, error);
    if (!line) {
        return fail(badInput, error);
    }
    if (!line->positional().isEmpty()) {
        return fail(badInput,
                    QStringLiteral("unexpected argument '%1'").arg(line->positional().first()));
    }
    QByteArray blob = io_.readStdin();
    if (line->has(QStringLiteral("base64"))) {
        const auto decoded =
            QByteArray::fromBase64Encoding(blob.trimmed(), QByteArray::AbortOnBase64DecodingErrors);
        if (!decoded) {
            return fail(badInput, QStringLiteral("stdin is not base64"));
        }
        blob = decoded.decoded;
    }
    std::optional<SymmetricKey> key;
    if (const auto keyFile = line->value(QStringLiteral("key-file"))) {
        const KeySource source = readKey(keyFile, keychain_);
        if (!source.key) {
            return fail(source.exitCode, source.problem);
        }
        key = source.key;
    }
    try {
        if (!key) {
            key = CloudSyncCrypto::loadSyncKey(keychain_);
        }
        const PendingCode pending = PendingCode::open(blob, *key);
        io_.writeStdout(pending.encode() + '\n');
        return ok;
    } catch (const Error& openError) {
        io_.writeStderr(openError.localizedDescription() + u'\n');
        return failed;
    }
}
