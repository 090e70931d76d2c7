// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QString>
#include <QVariantMap>
#include <variant>

// One answer of the web push courier's long poll: an empty body when nothing came in time, or
// exactly one JSON object, the same dictionary a native push hands the application.
namespace CourierFrame {

struct KeepAlive {
    bool operator==(const KeepAlive&) const = default;
};
struct Push {
    QVariantMap userInfo;
    bool operator==(const Push&) const = default;
};
struct Malformed {
    QString problem;
    bool operator==(const Malformed&) const = default;
};
using Frame = std::variant<KeepAlive, Push, Malformed>;

// A courier frame is a few hundred bytes; anything far larger is not one.
constexpr qsizetype maximumSize = 64 * 1024;

Frame parse(const QByteArray& body);

}  // namespace CourierFrame
