// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/linux/desktop/StatusNotifierItem.h"

#include <QCoreApplication>
#include <QDBusAbstractAdaptor>
#include <QDBusArgument>
#include <QDBusMessage>
#include <QDBusMetaType>
#include <QDBusObjectPath>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QGuiApplication>
#include <QList>
#include <QScreen>
#include <QTextBoundaryFinder>
#include <QtEndian>
#include <algorithm>
#include <utility>

namespace {

const auto kCategory = QStringLiteral("ApplicationStatus");
const auto kId = QStringLiteral("net.brontal.zorvik");
const auto kTitle = QStringLiteral("Zorvik");
const auto kStatus = QStringLiteral("Active");
// A path that names no menu: hosts then send every click to the item's methods.
const auto kNoMenu = QStringLiteral("/NO_DBUSMENU");
const auto kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const auto kWatcherInterface = QStringLiteral("org.kde.StatusNotifierWatcher");

// RequestName's flag and answers.
constexpr uint kDoNotQueue = 4;
constexpr uint kPrimaryOwner = 1;
constexpr uint kExists = 3;
constexpr uint kAlreadyOwner = 4;
// How many item numbers to try when a name is taken.
constexpr int kNameAttempts = 10;

// One image of IconPixmap and its kin (a(iiay)): width, height, and the ARGB32 pixels with each
// pixel in network byte order.
struct SniPixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
    bool operator==(const SniPixmap&) const = default;
};

// ToolTip ((sa(iiay)ss)): icon name, icon pixmaps, title and description.
struct SniToolTip {
    QString iconName;
    QList<SniPixmap> pixmaps;
    QString title;
    QString description;
};

QDBusArgument& operator<<(QDBusArgument& argument, const SniPixmap& pixmap) {
    argument.beginStructure();
    argument << pixmap.width << pixmap.height << pixmap.bytes;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniPixmap& pixmap) {
    argument.beginStructure();
    argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
    argument.endStructure();
    return argument;
}

QDBusArgument& operator<<(QDBusArgument& argument, const SniToolTip& toolTip) {
    argument.beginStructure();
    argument << toolTip.iconName << toolTip.pixmaps << toolTip.title << toolTip.description;
    argument.endStructure();
    return argument;
}

const QDBusArgument& operator>>(const QDBusArgument& argument, SniToolTip& toolTip) {
    argument.beginStructure();
    argument >> toolTip.iconName >> toolTip.pixmaps >> toolTip.title >> toolTip.description;
    argument.endStructure();
    return argument;
}

}  // namespace

Q_DECLARE_METATYPE(SniPixmap)
Q_DECLARE_METATYPE(SniToolTip)

namespace {

void registerTypes() {
    static const bool registered = [] {
        qDBusRegisterMetaType<SniPixmap>();
        qDBusRegisterMetaType<QList<SniPixmap>>();
        qDBusRegisterMetaType<SniToolTip>();
        return true;
    }();
    (void)registered;
}

// `image` scaled to fit a square of `size` pixels, centred on transparency, in the protocol's
// pixel format. Straight alpha, as hosts do not agree on premultiplication; an image of the right
// size keeps its exact pixels.
SniPixmap pixmapOf(const QImage& image, int size) {
    // The longer side becomes `size`, the other keeps the proportion.
    const QImage scaled =
        (image.width() >= image.height() ? image.scaledToWidth(size, Qt::SmoothTransformation)
                                         : image.scaledToHeight(size, Qt::SmoothTransformation))
            .convertToFormat(QImage::Format_ARGB32);
    // Rounding may make a side one pixel too long.
    const int width = std::min(scaled.width(), size);
    const int height = std::min(scaled.height(), size);
    const int left = (size - width) / 2;
    const int top = (size - height) / 2;
    // Zero bytes are transparent.
    SniPixmap pixmap{size, size, QByteArray(qsizetype(size) * size * 4, '\0')};
    auto* pixels = reinterpret_cast<uchar*>(pixmap.bytes.data());
    for (int y = 0; y < height; ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(scaled.constScanLine(y));
        uchar* out = pixels + (qsizetype(top + y) * size + left) * 4;
        for (int x = 0; x < width; ++x, out += 4) {
            qToBigEndian<quint32>(line[x], out);
        }
    }
    return pixmap;
}

QList<SniPixmap> pixmapsOf(const QImage& image) {
    QList<SniPixmap> pixmaps;
    if (image.isNull()) {
        return pixmaps;
    }
    for (const int size : StatusNotifierItem::iconSizes) {
        pixmaps.append(pixmapOf(image, size));
    }
    return pixmaps;
}

int nextItemNumber() {
    static int last = 0;
    return ++last;
}

}  // namespace

// The item's face on the bus: org.kde.StatusNotifierItem with the Ayatana members. QtDBus
// describes the interface to callers and answers org.freedesktop.DBus.Properties from it.
class StatusNotifierItemAdaptor final : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierItem")
    Q_PROPERTY(QString Category READ category)
    Q_PROPERTY(QString Id READ id)
    Q_PROPERTY(QString Title READ title)
    Q_PROPERTY(QString Status READ status)
    Q_PROPERTY(int WindowId READ windowId)
    Q_PROPERTY(QString IconThemePath READ none)
    Q_PROPERTY(QString IconName READ none)
    Q_PROPERTY(QList<SniPixmap> IconPixmap READ iconPixmap)
    Q_PROPERTY(QString OverlayIconName READ none)
    Q_PROPERTY(QList<SniPixmap> OverlayIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionIconName READ none)
    Q_PROPERTY(QList<SniPixmap> AttentionIconPixmap READ noPixmaps)
    Q_PROPERTY(QString AttentionMovieName READ none)
    Q_PROPERTY(SniToolTip ToolTip READ toolTip)
    Q_PROPERTY(bool ItemIsMenu READ itemIsMenu)
    Q_PROPERTY(QDBusObjectPath Menu READ menu)
    Q_PROPERTY(QString XAyatanaLabel READ label)
    Q_PROPERTY(QString XAyatanaLabelGuide READ labelGuide)
    Q_PROPERTY(uint XAyatanaOrderingIndex READ orderingIndex)
    Q_PROPERTY(QString IconAccessibleDesc READ iconAccessibleDesc)

public:
    explicit StatusNotifierItemAdaptor(StatusNotifierItem* item)
        : QDBusAbstractAdaptor(item), item_(item) {}

    QString category() const { return kCategory; }
    QString id() const { return kId; }
    QString title() const { return kTitle; }
    QString status() const { return kStatus; }
    int windowId() const { return 0; }
    QString none() const { return {}; }
    QList<SniPixmap> iconPixmap() const { return pixmaps_; }
    QList<SniPixmap> noPixmaps() const { return {}; }
    SniToolTip toolTip() const {
        return {QString(), {}, item_->toolTip(), item_->attributedTitle().text};
    }
    bool itemIsMenu() const { return false; }
    QDBusObjectPath menu() const { return QDBusObjectPath(kNoMenu); }
    QString label() const { return item_->label(); }
    QString labelGuide() const { return item_->labelGuide(); }
    uint orderingIndex() const { return 0; }
    QString iconAccessibleDesc() const { return item_->accessibilityDescription(); }

    // Renders the item's image again; true when the pixmaps changed.
    bool renderIcon() {
        QList<SniPixmap> pixmaps = pixmapsOf(item_->image());
        if (pixmaps == pixmaps_) {
            return false;
        }
        pixmaps_ = std::move(pixmaps);
        return true;
    }

    // The protocol's method names, hence the capitals.
public Q_SLOTS:
    void Activate(int x, int y) { activateAt(x, y); }
    void SecondaryActivate(int x, int y) { activateAt(x, y); }
    // There is no menu: the popover is all there is, whichever button was pressed.
    void ContextMenu(int x, int y) { activateAt(x, y); }
    void Scroll(int /*delta*/, const QString& /*orientation*/) {}

Q_SIGNALS:
    void NewTitle();
    void NewIcon();
    void NewToolTip();
    void NewStatus(const QString& status);
    void XAyatanaNewLabel(const QString& label, const QString& guide);

private:
    void activateAt(int x, int y) {
        QList<StatusNotifierItem::ScreenScale> screens;
        for (const QScreen* screen : QGuiApplication::screens()) {
            screens.append({screen->geometry(), screen->devicePixelRatio()});
        }
        item_->activate(StatusNotifierItem::logicalPoint(QPoint(x, y), screens));
    }

    StatusNotifierItem* item_;
    QList<SniPixmap> pixmaps_;
};

StatusNotifierItem::StatusNotifierItem(QDBusConnection bus, QObject* parent)
    : QObject(parent),
      bus_(std::move(bus)),
      watcher_(QString::fromLatin1(watcherService), bus_,
               QDBusServiceWatcher::WatchForOwnerChange) {
    registerTypes();
    adaptor_ = new StatusNotifierItemAdaptor(this);
    connect(&watcher_, &QDBusServiceWatcher::serviceOwnerChanged, this,
            [this](const QString& /*name*/, const QString& /*oldOwner*/, const QString& newOwner) {
                // A watcher that leaves forgets every item; a new one knows none yet.
                setRegistered(false);
                reregistrations_ = 0;
                if (!newOwner.isEmpty()) {
                    registerWithWatcher();
                }
            });
    // A host that appears beside a watcher that stayed (a shell extension reloaded, or one that
    // dropped an item registered in its first moments) learns of the item anew.
    bus_.connect(QString::fromLatin1(watcherService), kWatcherPath, kWatcherInterface,
                 QStringLiteral("StatusNotifierHostRegistered"), this, SLOT(hostRegistered()));
    // A watcher that drops the item while its name stays on the bus (GNOME's AppIndicator
    // extension does so now and then as the item registers) gets it again a moment later.
    bus_.connect(QString::fromLatin1(watcherService), kWatcherPath, kWatcherInterface,
                 QStringLiteral("StatusNotifierItemUnregistered"), this,
                 SLOT(itemUnregistered(QString)));
    reregistration_.setSingleShot(true);
    reregistration_.setInterval(kReregistrationDelayMs);
    connect(&reregistration_, &QTimer::timeout, this, [this] {
        ++reregistrations_;
        registerWithWatcher();
    });
    exported_ = bus_.isConnected() && bus_.registerObject(QString::fromLatin1(objectPath), this,
                                                          QDBusConnection::ExportAdaptors);
    if (exported_) {
        requestName(1);
    } else {
        QMetaObject::invokeMethod(
            this, [this] { Q_EMIT serviceNameChanged(QString()); }, Qt::QueuedConnection);
    }
}

StatusNotifierItem::~StatusNotifierItem() {
    if (exported_) {
        bus_.unregisterObject(QString::fromLatin1(objectPath));
    }
    // Giving the name back makes the watcher drop the item at once. Nobody waits for the answer.
    for (const QString& name : {serviceName_, requestedName_}) {
        if (!name.isEmpty()) {
            QDBusMessage release = QDBusMessage::createMethodCall(
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
                QStringLiteral("org.freedesktop.DBus"), QStringLiteral("ReleaseName"));
            release << name;
            bus_.send(release);
        }
    }
}

void StatusNotifierItem::requestName(int attempt) {
    const QString name = QStringLiteral("org.kde.StatusNotifierItem-%1-%2")
                             .arg(QCoreApplication::applicationPid())
                             .arg(nextItemNumber());
    requestedName_ = name;
    QDBusMessage request = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("/org/freedesktop/DBus"),
        QStringLiteral("org.freedesktop.DBus"), QStringLiteral("RequestName"));
    request << name << kDoNotQueue;
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(request), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, name, attempt](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                requestedName_.clear();
                const QDBusPendingReply<uint> reply = *call;
                if (reply.isValid() &&
                    (reply.value() == kPrimaryOwner || reply.value() == kAlreadyOwner)) {
                    serviceName_ = name;
                    Q_EMIT serviceNameChanged(serviceName_);
                    registerWithWatcher();
                } else if (reply.isValid() && reply.value() == kExists && attempt < kNameAttempts) {
                    requestName(attempt + 1);
                } else {
                    Q_EMIT serviceNameChanged(QString());
                }
            });
}

void StatusNotifierItem::registerWithWatcher() {
    if (serviceName_.isEmpty()) {
        return;
    }
    const int generation = ++registrationGeneration_;
    QDBusMessage message = QDBusMessage::createMethodCall(
        QString::fromLatin1(watcherService), kWatcherPath, kWatcherInterface,
        QStringLiteral("RegisterStatusNotifierItem"));
    message << serviceName_;
    auto* call = new QDBusPendingCallWatcher(bus_.asyncCall(message), this);
    connect(call, &QDBusPendingCallWatcher::finished, this,
            [this, generation](QDBusPendingCallWatcher* call) {
                call->deleteLater();
                if (generation == registrationGeneration_) {
                    setRegistered(!call->isError());
                }
            });
}

void StatusNotifierItem::hostRegistered() {
    reregistrations_ = 0;
    registerWithWatcher();
}

void StatusNotifierItem::itemUnregistered(const QString& item) {
    // Watchers name an item by its bus name, or by the bus name and the object path.
    const bool ours =
        !serviceName_.isEmpty() &&
        (item == serviceName_ || item == serviceName_ + QString::fromLatin1(objectPath));
    if (!ours) {
        return;
    }
    setRegistered(false);
    // A watcher that drops it every time is not asked for ever.
    if (reregistrations_ < kMaxReregistrations && !reregistration_.isActive()) {
        reregistration_.start();
    }
}

void StatusNotifierItem::setRegistered(bool registered) {
    if (!registered) {
        // An answer still on its way belongs to a watcher that is gone.
        ++registrationGeneration_;
    }
    if (registered_ != registered) {
        registered_ = registered;
        Q_EMIT registeredChanged(registered_);
    }
}

void StatusNotifierItem::setImage(const QImage& image, const QString& accessibilityDescription) {
    if (image == image_ && accessibilityDescription == accessibilityDescription_) {
        return;
    }
    const bool describedAnew = accessibilityDescription != accessibilityDescription_;
    image_ = image;
    accessibilityDescription_ = accessibilityDescription;
    if (adaptor_->renderIcon() || describedAnew) {
        Q_EMIT adaptor_->NewIcon();
    }
}

void StatusNotifierItem::setAttributedTitle(const AttributedTitle& title) {
    const bool relabelled = title.text != title_.text;
    title_ = title;
    if (relabelled) {
        Q_EMIT adaptor_->XAyatanaNewLabel(label(), labelGuide());
        Q_EMIT adaptor_->NewToolTip();
    }
}

void StatusNotifierItem::setImagePosition(ImagePosition position) {
    imagePosition_ = position;
}

void StatusNotifierItem::setImageHugsTitle(bool hugs) {
    imageHugsTitle_ = hugs;
}

void StatusNotifierItem::setLength(double length) {
    length_ = length;
}

void StatusNotifierItem::setToolTip(const QString& toolTip) {
    if (toolTip == toolTip_) {
        return;
    }
    toolTip_ = toolTip;
    Q_EMIT adaptor_->NewToolTip();
}

void StatusNotifierItem::setAction(std::function<void(QPoint anchor)> action) {
    action_ = std::move(action);
}

void StatusNotifierItem::activate(QPoint anchor) {
    // A copy: the action may replace itself.
    const auto action = action_;
    if (action) {
        action(anchor);
    }
}

QPoint StatusNotifierItem::logicalPoint(QPoint nativePoint, const QList<ScreenScale>& screens) {
    for (const ScreenScale& screen : screens) {
        const QPoint origin = screen.geometry.topLeft();
        const QRect native(origin,
                           (QSizeF(screen.geometry.size()) * screen.devicePixelRatio).toSize());
        if (screen.devicePixelRatio > 0 && native.contains(nativePoint)) {
            return origin + (QPointF(nativePoint - origin) / screen.devicePixelRatio).toPoint();
        }
    }
    return nativePoint;
}

QString StatusNotifierItem::labelGuideFor(const QString& label) {
    QString guide;
    QTextBoundaryFinder graphemes(QTextBoundaryFinder::Grapheme, label);
    qsizetype start = 0;
    for (qsizetype end = graphemes.toNextBoundary(); end != -1; end = graphemes.toNextBoundary()) {
        const QStringView cluster = QStringView(label).mid(start, end - start);
        if (cluster.size() == 1 && cluster.front().isSpace()) {
            guide += cluster.front();
        } else {
            guide += QLatin1Char('0');
        }
        start = end;
    }
    return guide;
}

#include "StatusNotifierItem.moc"
