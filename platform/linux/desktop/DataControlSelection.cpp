// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/DataControlSelection.h"

#include "platform/Pasteboard.h"

namespace {

bool isPlainText(const QString& type) {
    return type == QLatin1String(Pasteboard::stringType);
}

// The names Wayland and X11 programs ask for plain text by, as wl-copy offers them; the
// compositor's XWayland bridge maps the last three to X11 targets.
const char* const plainTextMimeTypes[] = {"text/plain;charset=utf-8", "text/plain", "UTF8_STRING",
                                          "STRING", "TEXT"};

}  // namespace

long DataControlSelection::clearContents() {
    text_.reset();
    data_.clear();
    pending_ = true;
    ownEntryHeld_ = false;
    emptiedByUs_ = true;
    entryCount_ = ++changeCount_;
    return changeCount_;
}

bool DataControlSelection::setString(const QString& value, const QString& type) {
    if (!connected_ || entryCount_ != changeCount_) {
        return false;
    }
    const auto put = [this](const QByteArray& mimeType, const QByteArray& data) {
        for (auto& entry : data_) {
            if (entry.first == mimeType) {
                entry.second = data;
                return;
            }
        }
        data_.append({mimeType, data});
    };
    if (isPlainText(type)) {
        text_ = value;
    } else {
        put(type.toUtf8(), value.toUtf8());
        if (type == QLatin1String(Pasteboard::concealedType)) {
            put(QByteArray(passwordManagerHintType), QByteArrayLiteral("secret"));
        }
    }
    pending_ = true;
    emptiedByUs_ = false;
    return true;
}

std::optional<std::optional<QString>> DataControlSelection::knownString(const QString& type) const {
    const bool ownEntry = ownEntryHeld_ || (pending_ && (text_ || !data_.isEmpty()));
    if (!ownEntry) {
        if (emptiedByUs_) {
            return std::optional<QString>();
        }
        return std::nullopt;
    }
    if (isPlainText(type)) {
        return text_;
    }
    for (const auto& [mimeType, data] : data_) {
        if (mimeType == type.toUtf8()) {
            return std::optional(QString::fromUtf8(data));
        }
    }
    return std::optional<QString>();
}

DataControlSelection::Request DataControlSelection::takeRequest() {
    if (!pending_ || !connected_) {
        return Request::none;
    }
    pending_ = false;
    ++inFlight_;
    if (!text_ && data_.isEmpty()) {
        ownEntryHeld_ = false;
        return Request::clear;
    }
    ownEntryHeld_ = true;
    return Request::setEntry;
}

QList<DataControlSelection::Offer> DataControlSelection::offers() const {
    QList<Offer> offers;
    if (text_) {
        const QByteArray text = text_->toUtf8();
        for (const char* mimeType : plainTextMimeTypes) {
            offers.append({QByteArray(mimeType), text});
        }
    }
    offers.append(data_);
    return offers;
}

void DataControlSelection::ownSourceCancelled() {
    if (ownEntryHeld_) {
        ownEntryHeld_ = false;
        changedElsewhere();
    }
}

void DataControlSelection::selectionChanged() {
    if (inFlight_ > 0 || ownEntryHeld_) {
        return;
    }
    changedElsewhere();
}

void DataControlSelection::roundTripDone() {
    if (inFlight_ > 0) {
        --inFlight_;
    }
}

void DataControlSelection::connectionLost() {
    if (!connected_) {
        return;
    }
    connected_ = false;
    // Whatever we had set left with the connection.
    if (ownEntryHeld_ || pending_) {
        ownEntryHeld_ = false;
        pending_ = false;
        changedElsewhere();
    }
}

void DataControlSelection::changedElsewhere() {
    emptiedByUs_ = false;
    ++changeCount_;
}
