// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>
#include <optional>

// What we know of a Wayland selection that we set through the compositor's data control: the
// entry being written, whether the compositor still holds our source, and the change count of
// the Pasteboard contract. It sends nothing itself; DataControlPasteboard tells it what happened
// on the connection and asks it what to send.
//
// Writes are gathered and go out as one request on the event loop's next turn, so the selection
// never offers a code without its concealed marker, even for a moment.
//
// Whose change was it? The compositor answers each change of the selection with a `selection`
// event to every data device, ours included, and cancels the source that held it. So:
//  - our live source cancelled = someone else took the selection (or emptied it);
//  - a `selection` event while our source is live is no change (the replacement would have
//    cancelled it first, on the same connection);
//  - a `selection` event between our own request and the answer to a round trip sent right
//    after it is ours, or older than ours and replaced by it;
//  - any other `selection` event is someone else's change.
class DataControlSelection {
public:
    // The data that asks KDE's and CopyQ's histories to skip an entry, as QtPasteboard offers it.
    static constexpr auto passwordManagerHintType = "x-kde-passwordManagerHint";

    enum class Request { none, setEntry, clear };
    // One MIME type of an entry and its data.
    using Offer = QPair<QByteArray, QByteArray>;

    long clearContents();
    bool setString(const QString& value, const QString& type);
    long changeCount() const { return changeCount_; }

    // What the clipboard holds for `type` when we know it without asking (our own entry, or
    // emptied by us); nothing when someone else's entry is there.
    std::optional<std::optional<QString>> knownString(const QString& type) const;

    // The request that the writes since the last call ask for; from then on the request counts
    // as sent and a round trip is awaited (answer it with roundTripDone).
    Request takeRequest();
    // The MIME types and data of the entry written so far, plain text first.
    QList<Offer> offers() const;

    // Events from the compositor.
    void ownSourceCancelled();
    void selectionChanged();
    void roundTripDone();
    void connectionLost();

    bool connected() const { return connected_; }
    bool holdsOwnEntry() const { return ownEntryHeld_; }

private:
    void changedElsewhere();

    std::optional<QString> text_;
    // The other types, with their data in write order.
    QList<Offer> data_;
    long changeCount_ = 0;
    // The count when the entry was started; a different count means someone else wrote since.
    long entryCount_ = 0;
    // Writes wait to go out.
    bool pending_ = false;
    // The compositor holds our source (as far as its events have told us).
    bool ownEntryHeld_ = false;
    // We emptied the selection, and nobody has set it since.
    bool emptiedByUs_ = false;
    // Our requests whose round trip has not come back yet.
    int inFlight_ = 0;
    bool connected_ = true;
};
