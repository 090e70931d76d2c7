// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/DataControlPasteboard.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>
#include <wayland-client.h>

#include <QDeadlineTimer>
#include <QtGlobal>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/linux/desktop/FdDataWriter.h"
#include "protocols/wlr-data-control-unstable-v1-client-protocol.h"

namespace {

// How long string() waits for another program's entry. Only the quit asks, and a program that
// does not answer in that time is not worth waiting for.
constexpr int receiveTimeoutMs = 250;

bool isPlainText(const QString& type) {
    return type == QLatin1String(Pasteboard::stringType);
}

}  // namespace

// One reader being served.
struct DataControlPasteboard::Writer {
    Writer(int fd, QByteArray data) { writer.emplace(fd, std::move(data)); }

    // Gone once finished, so that the reader sees the end at once.
    std::optional<FdDataWriter> writer;
    std::unique_ptr<QSocketNotifier> notifier;
    QTimer deadline;
    // Finished from its own notifier or timer, which must not be deleted there and then.
    bool ended = false;
};

std::unique_ptr<DataControlPasteboard> DataControlPasteboard::connect() {
    const QByteArray name = qgetenv("WAYLAND_DISPLAY");
    // A WAYLAND_SOCKET is a connection handed to this process for the toolkit alone; libwayland
    // would take it over for any connect.
    if (name.isEmpty() || qEnvironmentVariableIsSet("WAYLAND_SOCKET")) {
        return nullptr;
    }
    wl_display* display = wl_display_connect(name.constData());
    if (display == nullptr) {
        return nullptr;
    }
    std::unique_ptr<DataControlPasteboard> pasteboard(new DataControlPasteboard(display));
    if (!pasteboard->bindGlobals()) {
        return nullptr;
    }
    return pasteboard;
}

DataControlPasteboard::DataControlPasteboard(wl_display* display) : display_(display) {
    publishTimer_.setSingleShot(true);
    publishTimer_.setInterval(0);
    QObject::connect(&publishTimer_, &QTimer::timeout, [this] { publish(); });
}

// The start-up waits for the compositor's answers (as the toolkit's own Wayland client does);
// everything after it is read when the socket says so.
bool DataControlPasteboard::bindGlobals() {
    static const wl_registry_listener registryListener{&global, &globalRemove};
    registry_ = wl_display_get_registry(display_);
    wl_registry_add_listener(registry_, &registryListener, this);
    if (wl_display_roundtrip(display_) < 0 || seat_ == nullptr || manager_ == nullptr) {
        return false;
    }
    static const zwlr_data_control_device_v1_listener deviceListener{&dataOffer, &selection,
                                                                     &finished, &primarySelection};
    device_ = zwlr_data_control_manager_v1_get_data_device(manager_, seat_);
    zwlr_data_control_device_v1_add_listener(device_, &deviceListener, this);
    // The device announces the current selection at once.
    if (wl_display_roundtrip(display_) < 0 || device_ == nullptr) {
        return false;
    }
    notifier_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Read);
    QObject::connect(notifier_.get(), &QSocketNotifier::activated, [this] { readEvents(); });
    // Requests a full socket kept go out as soon as it has room, not at the next event.
    writeNotifier_ =
        std::make_unique<QSocketNotifier>(wl_display_get_fd(display_), QSocketNotifier::Write);
    writeNotifier_->setEnabled(false);
    QObject::connect(writeNotifier_.get(), &QSocketNotifier::activated, [this] { flush(); });
    return true;
}

DataControlPasteboard::~DataControlPasteboard() {
    // A clear asked for at the very end (the quit) still goes out.
    publish();
    writers_.clear();
    for (wl_callback* callback : std::as_const(roundTrips_)) {
        wl_callback_destroy(callback);
    }
    for (auto offer = offers_.keyBegin(); offer != offers_.keyEnd(); ++offer) {
        zwlr_data_control_offer_v1_destroy(*offer);
    }
    if (source_ != nullptr) {
        zwlr_data_control_source_v1_destroy(source_);
    }
    if (device_ != nullptr) {
        zwlr_data_control_device_v1_destroy(device_);
    }
    if (manager_ != nullptr) {
        zwlr_data_control_manager_v1_destroy(manager_);
    }
    if (seat_ != nullptr) {
        wl_seat_destroy(seat_);
    }
    if (registry_ != nullptr) {
        wl_registry_destroy(registry_);
    }
    notifier_.reset();
    wl_display_flush(display_);
    wl_display_disconnect(display_);
}

long DataControlPasteboard::clearContents() {
    const long count = book_.clearContents();
    publishTimer_.start();
    return count;
}

bool DataControlPasteboard::setString(const QString& value, const QString& type) {
    if (!book_.setString(value, type)) {
        return false;
    }
    publishTimer_.start();
    return true;
}

std::optional<QString> DataControlPasteboard::string(const QString& type) const {
    if (const auto known = book_.knownString(type)) {
        return *known;
    }
    if (selectionOffer_ == nullptr || !book_.connected()) {
        return std::nullopt;
    }
    const QList<QByteArray>& offered = offers_.value(selectionOffer_);
    QList<QByteArray> wanted;
    if (isPlainText(type)) {
        wanted = {"text/plain;charset=utf-8", "UTF8_STRING", "text/plain"};
    } else {
        wanted = {type.toUtf8()};
    }
    for (const QByteArray& mimeType : std::as_const(wanted)) {
        if (offered.contains(mimeType)) {
            const std::optional<QByteArray> data = receive(mimeType);
            return data ? std::optional(QString::fromUtf8(*data)) : std::nullopt;
        }
    }
    return std::nullopt;
}

// Reads another program's entry through a pipe, waiting a short while at most. The events that
// arrive meanwhile stay queued for the next readEvents().
std::optional<QByteArray> DataControlPasteboard::receive(const QByteArray& mimeType) const {
    int pipe[2];
    if (pipe2(pipe, O_CLOEXEC) != 0) {
        return std::nullopt;
    }
    zwlr_data_control_offer_v1_receive(selectionOffer_, mimeType.constData(), pipe[1]);
    ::close(pipe[1]);
    wl_display_flush(display_);
    QByteArray data;
    QDeadlineTimer deadline(receiveTimeoutMs);
    for (;;) {
        pollfd readable{pipe[0], POLLIN, 0};
        const int ready = ::poll(&readable, 1, int(deadline.remainingTime()));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            ::close(pipe[0]);
            return std::nullopt;
        }
        char buffer[4096];
        const ssize_t count = ::read(pipe[0], buffer, sizeof buffer);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            ::close(pipe[0]);
            return count == 0 ? std::optional(data) : std::nullopt;
        }
        data.append(buffer, count);
    }
}

// Reads what the socket holds without waiting for more, and handles it.
void DataControlPasteboard::readEvents() {
    while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
            connectionLost();
            return;
        }
    }
    wl_display_flush(display_);
    if (wl_display_read_events(display_) < 0 || wl_display_dispatch_pending(display_) < 0) {
        connectionLost();
        return;
    }
    flush();
}

void DataControlPasteboard::flush() {
    const bool sent = wl_display_flush(display_) >= 0;
    if (!sent && errno != EAGAIN) {
        connectionLost();
        return;
    }
    // A full socket (EAGAIN) keeps the rest until it has room again.
    if (writeNotifier_) {
        writeNotifier_->setEnabled(!sent);
    }
}

void DataControlPasteboard::publish() {
    publishTimer_.stop();
    const DataControlSelection::Request request = book_.takeRequest();
    if (request == DataControlSelection::Request::none) {
        return;
    }
    zwlr_data_control_source_v1* previous = source_;
    source_ = nullptr;
    if (request == DataControlSelection::Request::setEntry) {
        static const zwlr_data_control_source_v1_listener sourceListener{&send, &cancelled};
        sourceOffers_ = book_.offers();
        source_ = zwlr_data_control_manager_v1_create_data_source(manager_);
        zwlr_data_control_source_v1_add_listener(source_, &sourceListener, this);
        for (const auto& offer : std::as_const(sourceOffers_)) {
            zwlr_data_control_source_v1_offer(source_, offer.first.constData());
        }
    } else {
        sourceOffers_.clear();
    }
    zwlr_data_control_device_v1_set_selection(device_, source_);
    // Replaced by the request above; its cancellation is no news.
    if (previous != nullptr) {
        zwlr_data_control_source_v1_destroy(previous);
    }
    static const wl_callback_listener callbackListener{&done};
    wl_callback* callback = wl_display_sync(display_);
    wl_callback_add_listener(callback, &callbackListener, this);
    roundTrips_.append(callback);
    flush();
}

void DataControlPasteboard::dropSource() {
    if (source_ != nullptr) {
        zwlr_data_control_source_v1_destroy(source_);
        source_ = nullptr;
    }
    sourceOffers_.clear();
}

void DataControlPasteboard::connectionLost() {
    for (QSocketNotifier* each : {notifier_.get(), writeNotifier_.get()}) {
        if (each) {
            each->setEnabled(false);
        }
    }
    publishTimer_.stop();
    book_.connectionLost();
    selectionOffer_ = nullptr;
}

void DataControlPasteboard::serve(const char* mimeType, int fd) {
    const QByteArray wanted(mimeType);
    const auto found = std::find_if(sourceOffers_.cbegin(), sourceOffers_.cend(),
                                    [&wanted](const auto& offer) { return offer.first == wanted; });
    if (found == sourceOffers_.cend()) {
        ::close(fd);
        return;
    }
    // The writers finished since the last reader go now, outside their own signals.
    std::erase_if(writers_, [](const auto& writer) { return writer->ended; });
    auto writer = std::make_unique<Writer>(fd, found->second);
    Writer* const raw = writer.get();
    if (raw->writer->writeSome() != FdDataWriter::Progress::more) {
        return;
    }
    // A reader that does not take it all at once is served when its pipe has room again, and
    // given up on after a while, so that one that never reads costs nothing but an open pipe.
    raw->notifier = std::make_unique<QSocketNotifier>(raw->writer->fd(), QSocketNotifier::Write);
    QObject::connect(raw->notifier.get(), &QSocketNotifier::activated, [this, raw] {
        if (raw->writer->writeSome() != FdDataWriter::Progress::more) {
            finishWriter(raw);
        }
    });
    raw->deadline.setSingleShot(true);
    QObject::connect(&raw->deadline, &QTimer::timeout, [this, raw] { finishWriter(raw); });
    raw->deadline.start(sendTimeoutMs);
    writers_.push_back(std::move(writer));
}

void DataControlPasteboard::finishWriter(Writer* writer) {
    writer->notifier->setEnabled(false);
    writer->deadline.stop();
    writer->writer.reset();
    writer->ended = true;
}

void DataControlPasteboard::global(void* data, wl_registry* registry, uint32_t name,
                                   const char* interface, uint32_t version) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    Q_UNUSED(version);
    if (std::strcmp(interface, wl_seat_interface.name) == 0 && self->seat_ == nullptr) {
        // The first seat: a desktop session has one.
        self->seat_ =
            static_cast<wl_seat*>(wl_registry_bind(registry, name, &wl_seat_interface, 1));
    } else if (std::strcmp(interface, zwlr_data_control_manager_v1_interface.name) == 0 &&
               self->manager_ == nullptr) {
        // Version 1: the clipboard only, no primary selection.
        self->manager_ = static_cast<zwlr_data_control_manager_v1*>(
            wl_registry_bind(registry, name, &zwlr_data_control_manager_v1_interface, 1));
    }
}

void DataControlPasteboard::globalRemove(void*, wl_registry*, uint32_t) {}

void DataControlPasteboard::dataOffer(void* data, zwlr_data_control_device_v1*,
                                      zwlr_data_control_offer_v1* offer) {
    static const zwlr_data_control_offer_v1_listener offerListener{&offered};
    auto* self = static_cast<DataControlPasteboard*>(data);
    self->offers_.insert(offer, {});
    zwlr_data_control_offer_v1_add_listener(offer, &offerListener, self);
}

void DataControlPasteboard::offered(void* data, zwlr_data_control_offer_v1* offer,
                                    const char* mimeType) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    const auto found = self->offers_.find(offer);
    if (found != self->offers_.end()) {
        found->append(QByteArray(mimeType));
    }
}

void DataControlPasteboard::selection(void* data, zwlr_data_control_device_v1*,
                                      zwlr_data_control_offer_v1* offer) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    // Every offer announced before this one is out of date.
    for (auto it = self->offers_.begin(); it != self->offers_.end();) {
        if (it.key() != offer) {
            zwlr_data_control_offer_v1_destroy(it.key());
            it = self->offers_.erase(it);
        } else {
            ++it;
        }
    }
    self->selectionOffer_ = offer;
    self->book_.selectionChanged();
}

void DataControlPasteboard::finished(void* data, zwlr_data_control_device_v1* device) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    zwlr_data_control_device_v1_destroy(device);
    self->device_ = nullptr;
    self->dropSource();
    self->connectionLost();
}

void DataControlPasteboard::primarySelection(void* data, zwlr_data_control_device_v1*,
                                             zwlr_data_control_offer_v1* offer) {
    // Not sent at version 1; an offer that came anyway is not kept.
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (offer != nullptr && self->offers_.remove(offer) > 0) {
        zwlr_data_control_offer_v1_destroy(offer);
    }
}

void DataControlPasteboard::send(void* data, zwlr_data_control_source_v1* source,
                                 const char* mimeType, int32_t fd) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (source != self->source_) {
        ::close(fd);
        return;
    }
    self->serve(mimeType, fd);
}

void DataControlPasteboard::cancelled(void* data, zwlr_data_control_source_v1* source) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    if (source != self->source_) {
        zwlr_data_control_source_v1_destroy(source);
        return;
    }
    self->dropSource();
    self->book_.ownSourceCancelled();
}

void DataControlPasteboard::done(void* data, wl_callback* callback, uint32_t) {
    auto* self = static_cast<DataControlPasteboard*>(data);
    self->roundTrips_.removeOne(callback);
    wl_callback_destroy(callback);
    self->book_.roundTripDone();
}
