// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>
#include <variant>

#include "ZorvikMac/CodeIntake/SymmetricKey.h"

// A sync key the user types or pastes: 32 bytes as base64 (standard or URL-safe, padding
// optional) or as 64 hexadecimal digits; spaces and line breaks around and inside are ignored.
namespace SyncKeyText {

// The key, or a sentence saying what is wrong with the text.
std::variant<SymmetricKey, QString> parse(const QString& text);

}  // namespace SyncKeyText
