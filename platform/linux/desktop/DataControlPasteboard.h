// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QSocketNotifier>
#include <QTimer>
#include <memory>
#include <optional>

#include "platform/Pasteboard.h"
#include "platform/linux/desktop/DataControlSelection.h"

class FdDataWriter;
struct wl_callback;
struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_data_control_device_v1;
struct zwlr_data_control_manager_v1;
struct zwlr_data_control_offer_v1;
struct zwlr_data_control_source_v1;

// The general pasteboard on a Wayland compositor that offers data control
// (zwlr_data_control_manager_v1: wlroots compositors such as sway, and KWin), through a
// connection of our own beside whatever Qt runs on. Unlike a plain Wayland client, a data-control
// client may set the selection without keyboard focus, i.e. from the tray or headless, and the
// compositor hands it on to X11 programs through XWayland.
//
// The entry offers the same types as QtPasteboard's: the plain text, and the concealed marker
// with "x-kde-passwordManagerHint: secret" next to it. DataControlSelection keeps the books; this
// class carries them to and from the compositor without ever blocking the GUI thread: the
// connection is read when its socket is readable, and each reader gets the data through a
// non-blocking write that gives up after a few seconds.
class DataControlPasteboard final : public Pasteboard {
public:
    // Connects to the display that WAYLAND_DISPLAY names; nothing when it is unset or
    // unreachable, or when the compositor offers no data control or no seat. Needs the
    // application object.
    static std::unique_ptr<DataControlPasteboard> connect();
    ~DataControlPasteboard() override;

    long clearContents() override;
    bool setString(const QString& value, const QString& type) override;
    std::optional<QString> string(const QString& type) const override;
    long changeCount() const override { return book_.changeCount(); }

    // How long a reader may take to read an entry before it is given up on.
    static constexpr int sendTimeoutMs = 5000;

private:
    struct Writer;

    explicit DataControlPasteboard(wl_display* display);
    bool bindGlobals();
    void readEvents();
    void flush();
    void publish();
    void dropSource();
    void connectionLost();
    void serve(const char* mimeType, int fd);
    void finishWriter(Writer* writer);
    std::optional<QByteArray> receive(const QByteArray& mimeType) const;

    // Listeners; `data` is the pasteboard.
    static void global(void* data, wl_registry* registry, uint32_t name, const char* interface,
                       uint32_t version);
    static void globalRemove(void* data, wl_registry* registry, uint32_t name);
    static void dataOffer(void* data, zwlr_data_control_device_v1* device,
                          zwlr_data_control_offer_v1* offer);
    static void selection(void* data, zwlr_data_control_device_v1* device,
                          zwlr_data_control_offer_v1* offer);
    static void finished(void* data, zwlr_data_control_device_v1* device);
    static void primarySelection(void* data, zwlr_data_control_device_v1* device,
                                 zwlr_data_control_offer_v1* offer);
    static void offered(void* data, zwlr_data_control_offer_v1* offer, const char* mimeType);
    static void send(void* data, zwlr_data_control_source_v1* source, const char* mimeType,
                     int32_t fd);
    static void cancelled(void* data, zwlr_data_control_source_v1* source);
    static void done(void* data, wl_callback* callback, uint32_t time);

    DataControlSelection book_;
    wl_display* display_;
    wl_registry* registry_ = nullptr;
    wl_seat* seat_ = nullptr;
    zwlr_data_control_manager_v1* manager_ = nullptr;
    zwlr_data_control_device_v1* device_ = nullptr;
    // Our source while the compositor may hold it, and what it offers.
    zwlr_data_control_source_v1* source_ = nullptr;
    QList<DataControlSelection::Offer> sourceOffers_;
    // Every offer the compositor announced and not yet replaced, with its MIME types; the
    // selection's is `selectionOffer_` (null when the selection is empty).
    QHash<zwlr_data_control_offer_v1*, QList<QByteArray>> offers_;
    zwlr_data_control_offer_v1* selectionOffer_ = nullptr;
    QList<wl_callback*> roundTrips_;
    std::unique_ptr<QSocketNotifier> notifier_;
    // Enabled only while a full socket keeps requests back.
    std::unique_ptr<QSocketNotifier> writeNotifier_;
    // Gathers the writes of one turn of the event loop into one request.
    QTimer publishTimer_;
    std::vector<std::unique_ptr<Writer>> writers_;
};
