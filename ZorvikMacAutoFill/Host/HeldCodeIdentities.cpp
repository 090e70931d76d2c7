// SPDX-License-Identifier: GPL-3.0-or-later
#include "ZorvikMacAutoFill/Host/HeldCodeIdentities.h"

#include <QFile>
#include <QFileInfo>

#include "shared/AtomicFile.h"
#include "shared/CredentialIdentitiesFile.h"
#include "shared/LatestCodeIdentities.h"

namespace HeldCodeIdentities {

void publish(const std::function<std::optional<LatestCode>()>& heldCode,
             const QString& identitiesPath, Instant now) {
    // There is no lock between the two processes: the application may publish or expire a code
    // while this writes. Reading the code again afterwards and following it leaves the
    // identities of the code held last, whoever wrote last.
    constexpr int kRounds = 3;
    std::optional<LatestCode> held = heldCode();
    bool wrote = false;
    for (int round = 0; round < kRounds; ++round) {
        if (!held || !held->isValid(now)) {
            if (wrote) {
                QFile::remove(identitiesPath);
            }
            return;
        }
        try {
            AtomicFile::makeDirectories(QFileInfo(identitiesPath).path());
            AtomicFile::write(identitiesPath,
                              CredentialIdentitiesFile::encode(LatestCodeIdentities::make(*held)));
        } catch (const FileOperationError&) {
            return;
        }
        wrote = true;
        std::optional<LatestCode> after = heldCode();
        if (after == held) {
            return;
        }
        held = std::move(after);
    }
}

}  // namespace HeldCodeIdentities
