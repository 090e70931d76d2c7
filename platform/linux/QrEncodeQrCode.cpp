// SPDX-License-Identifier: GPL-3.0-or-later
#include <qrencode.h>

#include <memory>

#include "platform/QrCode.h"

QrCode QrCode::encode(const QByteArray& text) {
    // Byte mode with the text as it is; a pairing URI is ASCII either way.
    const std::unique_ptr<QRcode, decltype(&QRcode_free)> code(
        QRcode_encodeString8bit(text.constData(), 0, QR_ECLEVEL_M), &QRcode_free);
    QrCode made;
    if (!code || code->width <= 0) {
        return made;
    }
    made.size = code->width;
    made.modules.resize(std::size_t(code->width) * std::size_t(code->width));
    for (std::size_t index = 0; index < made.modules.size(); ++index) {
        // Bit 0 of each byte is the module's colour; the others say what the module is for.
        made.modules[index] = (code->data[index] & 1) != 0;
    }
    return made;
}
