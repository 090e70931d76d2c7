// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMac/TerminalCommands.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <memory>

#include "ZorvikMac/Clouds.h"
#include "ZorvikMac/CodeIntake/CloudSyncCrypto.h"
#include "ZorvikMac/CodeIntake/KeyPairing.h"
#include "ZorvikMac/Shell/PairingTerminal.h"
#include "platform/QrCode.h"
#include "platform/linux/DBusDiagnosticsChannel.h"
#include "platform/linux/KernelBundleInfo.h"
#include "platform/linux/SessionSelfProbe.h"
#include "platform/linux/UnixSignalNotifier.h"

int pairAtTerminal(MainActor& mainActor, SystemLog& systemLog, Keychain& keychain, Clouds& clouds) {
    KeyPairing pairing(mainActor, &clouds.cloud.privateCloudDatabase(), keychain, systemLog);
    bool stored = false;
    pairing.keyStored = [&stored] { stored = true; };
    QObject::connect(&pairing, &KeyPairing::stateChanged, [&pairing, &stored] {
        switch (pairing.state()) {
            case KeyPairing::State::paired:
                if (stored) {
                    std::puts("The sync key from your iPhone is stored.");
                    std::fflush(stdout);
                    QCoreApplication::exit(0);
                } else {
                    std::fputs("ZorvikMac: pairing ended without storing a key\n", stderr);
                    QCoreApplication::exit(1);
                }
                break;
            case KeyPairing::State::expired:
                std::fprintf(stderr,
                             "ZorvikMac: the pairing code was not answered within %ld minutes "
                             "and has ended; the sync key is unchanged\n",
                             static_cast<long>(PairingOffer::lifetime / 60));
                QCoreApplication::exit(1);
                break;
            case KeyPairing::State::cancelled:
                QCoreApplication::exit(1);
                break;
            case KeyPairing::State::idle:
            case KeyPairing::State::offering:
                break;
        }
    });
    // Ctrl+C, `kill` or the terminal closing: the offer ends and its private key is scrubbed.
    UnixSignalNotifier quitSignals({SIGTERM, SIGINT, SIGHUP}, [&pairing](int signal) {
        if (pairing.state() != KeyPairing::State::offering) {
            return;  // already ending, perhaps with the key stored
        }
        std::fprintf(stderr, "ZorvikMac: pairing cancelled by %s; the sync key is unchanged\n",
                     UnixSignalNotifier::name(signal).toLatin1().constData());
        pairing.cancel();
    });
    try {
        pairing.start();
    } catch (const Error& error) {
        std::fprintf(stderr, "ZorvikMac: no pairing code could be made: %s\n",
                     error.localizedDescription().toUtf8().constData());
        return 1;
    }

    // The code is shown once the keychain has said which cloud the key comes through.
    const auto alive = std::make_shared<bool>(true);
    clouds.cloud.whenChosen([&pairing, &clouds, weak = std::weak_ptr<bool>(alive)] {
        if (weak.expired()) {
            return;
        }
        const QByteArray uri = pairing.offerText().toUtf8();
        const QrCode code = QrCode::encode(uri);
        if (code.size > 0) {
            std::fputs(PairingTerminal::picture(code).constData(), stdout);
        } else {
            std::fputs("ZorvikMac: the code could not be drawn; the iPhone can take its text\n",
                       stderr);
        }
        const CloudBackendInfo backend = clouds.cloud.backendInfo();
        std::printf(
            "\n%s\n\nScan this code in Zorvik on your iPhone to send this computer your sync key.\n"
            "It stays open for %ld minutes; Ctrl+C ends it sooner.\nWaiting for the key through "
            "%s%s.\n",
            uri.constData(), std::lround(pairing.secondsLeft() / 60),
            backend.kind == CloudBackendInfo::Kind::embedded ? "the " : "",
            backend.description.toUtf8().constData());
        std::fflush(stdout);

        // A cloud that cannot answer would leave the user waiting for nothing: say so at once. The
        // lookups go on all the same, as the cloud may come back.
        clouds.cloud.accountStatus([weak](std::variant<int, CloudError> answer) {
            if (weak.expired()) {
                return;
            }
            if (const auto* error = std::get_if<CloudError>(&answer)) {
                std::fprintf(stderr, "ZorvikMac: the cloud did not answer: %s\n",
                             error->localizedDescription().toUtf8().constData());
            } else if (std::get<int>(answer) == CloudContainer::noAccount) {
                std::fputs(
                    "ZorvikMac: the cloud says no one is signed in, so the key cannot come through "
                    "it; sign in with ZorvikMac --sign-in and pair again\n",
                    stderr);
            } else if (std::get<int>(answer) != CloudContainer::available) {
                std::fprintf(stderr, "ZorvikMac: the cloud account is not available (status %d)\n",
                             std::get<int>(answer));
            }
        });
    });

    const int status = QCoreApplication::exec();
    // The last lookup's answer holds the web session's next token.
    clouds.webSession.finishCallsUnderWay(2);
    return status;
}

int printDiagnostics(int& argc, char** argv) {
    // Needs no display: the session bus is all it asks.
    const QCoreApplication application(argc, argv);
    const QDBusConnection bus = DBusDiagnosticsChannel::existingSessionBus();
    DBusDiagnosticsChannel channel(bus);
    if (const std::optional<QString> report = channel.askRunningCopy(5)) {
        std::puts(report->toUtf8().constData());
        return 0;
    }
    std::fputs(bus.isConnected()
                   ? "No copy of Zorvik is running in this session; what this command can tell "
                     "by itself:\n"
                   : "No session bus is reachable, so no running copy of Zorvik can be asked; "
                     "what this command can tell by itself:\n",
               stderr);
    Keychain::Query syncKey;
    syncKey.service = QString::fromLatin1(CloudSyncCrypto::keychainService);
    syncKey.account = QString::fromLatin1(CloudSyncCrypto::keychainAccount);
    const SessionSelfProbe probe(
        bus, kernelBundleInfo(QStringLiteral(ZORVIK_VERSION), QStringLiteral(ZORVIK_BUILD)),
        SessionSelfProbe::standard(syncKey));
    std::puts(probe.text().toUtf8().constData());
    return 3;
}
