// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/zorvik-phone/PhoneCommands.h"

namespace {

// In the order of the usage, which groups the keychain, the sealing, the cloud and pairing.
constexpr PhoneCommand kCommands[] = {
    {"key", "generate [--force]", "put a new random sync key into the keychain",
     PhoneCommands::key},
    {"key", "import [--force]", "put the base64 sync key read from stdin into the keychain",
     PhoneCommands::key},
    {"key", "export", "print the sync key in base64", PhoneCommands::key},
    {"key", "delete", "remove the sync key from the keychain", PhoneCommands::key},
    {"seal", "...", "seal a code; the blob goes to stdout", PhoneCommands::seal},
    {"open", "...", "open a blob from stdin the way the desktop does", PhoneCommands::open},
    {"send", "...", "seal a code and save it as the cloud record pending-code",
     PhoneCommands::send},
    {"clear", "", "delete the cloud record pending-code", PhoneCommands::clear},
    {"account", "STATUS", "set the cloud account status the desktop sees", PhoneCommands::account},
    {"show", "", "print the cloud record, the subscriptions and the account status",
     PhoneCommands::show},
    {"pair", "URI", "answer the desktop's pairing code: hand it the sync key", PhoneCommands::pair},
};

}  // namespace

std::span<const PhoneCommand> PhoneCommands::all() {
    return kCommands;
}
