// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <vector>

// A QR code as a square of modules, made with error correction level M (15 % of it may be lost).
struct QrCode {
    // Modules on a side; 0 when the text could not be encoded.
    int size = 0;
    // Row by row, true for a dark module.
    std::vector<bool> modules;

    bool isDark(int x, int y) const { return modules[std::size_t(y) * std::size_t(size) + x]; }

    static QrCode encode(const QByteArray& text);
};
