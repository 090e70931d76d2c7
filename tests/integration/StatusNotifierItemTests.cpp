// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDBusVariant>
#include <QGuiApplication>
#include <QImage>
#include <QList>
#include <QObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSystemTrayIcon>
#include <QTemporaryDir>
#include <memory>
#include <ostream>

#include "platform/linux/desktop/LinuxStatusItem.h"
#include "platform/linux/desktop/StatusNotifierItem.h"
#include "platform/linux/desktop/TrayIconStatusItem.h"
#include "tests/support/QStringPrinter.h"
#include "tests/support/SessionEnvironment.h"
#include "tests/support/SessionProcess.h"

// Readable failures: gtest finds these next to the Qt types.
static void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '[' << list.join(QStringLiteral(", ")).toStdString() << ']';
}
static void PrintTo(const QPoint& point, std::ostream* out) {
    *out << '(' << point.x() << ", " << point.y() << ')';
}

// Records the signals a host hears from an item, each as "Member(arg, arg)".
class SignalRecorder : public QObject {
    Q_OBJECT

public:
    QStringList lines;

public Q_SLOTS:
    void record(const QDBusMessage& message) {
        QStringList arguments;
        for (const QVariant& argument : message.arguments()) {
            arguments << argument.toString();
        }
        lines << message.member() + '(' + arguments.join(", ") + ')';
    }
};

namespace {

const QString kItemInterface = QStringLiteral("org.kde.StatusNotifierItem");
const QString kItemPath = QStringLiteral("/StatusNotifierItem");
const QString kWatcherService = QStringLiteral("org.kde.StatusNotifierWatcher");
const QString kWatcherPath = QStringLiteral("/StatusNotifierWatcher");
const QString kToolTip = QStringLiteral("Zorvik — codes from your iPhone");
const QColor kGold = QColor(212, 168, 51);  // the symbol's accent colour

// Calls without blocking the event loop, which the item in this very process needs to answer.
QDBusMessage callAndWait(const QDBusConnection& bus, const QDBusMessage& message) {
    QDBusPendingCall call = QDBusConnection(bus).asyncCall(message, 5000);
    runEventsUntil([&] { return call.isFinished(); }, 6000);
    return call.reply();
}

// A property as a host reads it, through org.freedesktop.DBus.Properties.Get.
QVariant getProperty(const QDBusConnection& bus, const QString& service, const QString& path,
                     const QString& interface, const QString& name) {
    QDBusMessage get = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    get << interface << name;
    const QDBusMessage reply = callAndWait(bus, get);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 1) {
        ADD_FAILURE() << "Get " << name.toStdString() << ": " << reply.errorName().toStdString()
                      << " " << reply.errorMessage().toStdString();
        return {};
    }
    return reply.arguments().at(0).value<QDBusVariant>().variant();
}

QStringList registeredItems(const QDBusConnection& bus) {
    return getProperty(bus, kWatcherService, kWatcherPath, kWatcherService,
                       QStringLiteral("RegisteredStatusNotifierItems"))
        .toStringList();
}

// One entry of an a(iiay), read the way a host reads it.
struct Pixmap {
    int width = 0;
    int height = 0;
    QByteArray bytes;
    // The pixel at (x, y) as its four bytes in order, e.g. "ffd4a833".
    QByteArray pixel(int x, int y) const {
        return bytes.mid((qsizetype(y) * width + x) * 4, 4).toHex();
    }
};

QList<Pixmap> readPixmaps(const QDBusArgument& argument) {
    QList<Pixmap> pixmaps;
    argument.beginArray();
    while (!argument.atEnd()) {
        Pixmap pixmap;
        argument.beginStructure();
        argument >> pixmap.width >> pixmap.height >> pixmap.bytes;
        argument.endStructure();
        pixmaps.append(pixmap);
    }
    argument.endArray();
    return pixmaps;
}

QImage filled(int width, int height, const QColor& colour) {
    QImage image(width, height, QImage::Format_ARGB32);
    image.fill(colour);
    return image;
}

StatusItem::AttributedTitle title(const QString& text, const QColor& colour = Qt::black) {
    return {text, colour, 13, true, 0.5};
}

bool untilRegistered(const StatusNotifierItem& item) {
    return runEventsUntil([&] { return item.isRegistered(); }, 5000);
}

// An item on the session's bus, registered with the session's watcher, and a second connection
// that plays the host.
class StatusNotifierItemOnSessionBus : public testing::Test {
protected:
    void SetUp() override {
        REQUIRE_DESKTOP_SESSION();
        ASSERT_EQ(qEnvironmentVariable("ZORVIK_TRAY_WATCHER_RUNNING"), "1")
            << "the session runs no tray watcher: set ZORVIK_TRAY_WATCHER to "
               "zorvik-test-tray-watcher (scripts/test does)";
        item = std::make_unique<StatusNotifierItem>();
        ASSERT_TRUE(untilRegistered(*item)) << "the watcher did not accept the item";
        service = item->serviceName();
        host = std::make_unique<QDBusConnection>(
            QDBusConnection::connectToBus(QDBusConnection::SessionBus, "status-item-test-host"));
        ASSERT_TRUE(host->isConnected());
    }
    void TearDown() override {
        item.reset();
        if (host) {
            host.reset();
            QDBusConnection::disconnectFromBus("status-item-test-host");
        }
    }

    // Starts hearing the item's signals, as a host does after the registration.
    void listen() {
        for (const char* member :
             {"NewIcon", "NewTitle", "NewToolTip", "NewStatus", "XAyatanaNewLabel"}) {
            ASSERT_TRUE(host->connect(service, kItemPath, kItemInterface, member, &recorder,
                                      SLOT(record(QDBusMessage))));
        }
        settle();
    }

    QVariant property(const char* name) {
        return getProperty(*host, service, kItemPath, kItemInterface, QString::fromLatin1(name));
    }
    QList<Pixmap> iconPixmaps() {
        return readPixmaps(property("IconPixmap").value<QDBusArgument>());
    }
    // Ends a round trip through the item, so that every signal it sent before has arrived.
    void settle() {
        (void)property("Id");
        runEventsFor(20);
    }

    std::unique_ptr<StatusNotifierItem> item;
    QString service;
    std::unique_ptr<QDBusConnection> host;
    SignalRecorder recorder;
};

// A watcher that loses the item gets it again: when a host announces itself (a shell extension
// reloaded beside the watcher), and a moment after it said it dropped the item (GNOME's
// AppIndicator extension). A second item of the same process gets the next number.
TEST_F(StatusNotifierItemOnSessionBus, OwnsANumberedNameAndRegistersAgainWhenTheWatcherLosesIt) {
    const QRegularExpression name(QStringLiteral("^org\\.kde\\.StatusNotifierItem-%1-[1-9][0-9]*$")
                                      .arg(QCoreApplication::applicationPid()));
    EXPECT_TRUE(name.match(service).hasMatch()) << service.toStdString();
    const QString entry = service + kItemPath;
    const auto listed = [&] { return registeredItems(*host).contains(entry); };
    EXPECT_TRUE(listed());
    const auto watcherCall = [&](const char* method, const QVariantList& arguments) {
        QDBusMessage call =
            QDBusMessage::createMethodCall(kWatcherService, kWatcherPath, kWatcherService, method);
        call.setArguments(arguments);
        return host->call(call).type() == QDBusMessage::ReplyMessage;
    };
    ASSERT_TRUE(watcherCall("ForgetStatusNotifierItem", {entry, false}));
    ASSERT_FALSE(listed());
    runEventsFor(1500);
    EXPECT_FALSE(listed()) << "nothing told the item it was lost";
    ASSERT_TRUE(watcherCall("RegisterStatusNotifierHost",
                            {QStringLiteral("org.kde.StatusNotifierHost-test")}));
    EXPECT_TRUE(runEventsUntil(listed));
    ASSERT_TRUE(watcherCall("ForgetStatusNotifierItem", {entry, true}));
    EXPECT_TRUE(runEventsUntil(listed));
    EXPECT_TRUE(item->isRegistered());

    item.reset();
    ASSERT_TRUE(runEventsUntil([&] { return !listed(); }));
    item = std::make_unique<StatusNotifierItem>();
    ASSERT_TRUE(untilRegistered(*item));
    EXPECT_NE(item->serviceName(), service);
    EXPECT_TRUE(registeredItems(*host).contains(item->serviceName() + kItemPath));
}

TEST_F(StatusNotifierItemOnSessionBus, IconPixmapsAreTheImageSquaredAtTheUsualSizesInNetworkOrder) {
    listen();
    // Scaled up and down to every size; a host sees the same pixmaps each time, so only the
    // first image is news.
    for (const int side : {64, 13, 100, 64}) {
        item->setImage(filled(side, side, kGold), QStringLiteral("Zorvik"));
        const QList<Pixmap> pixmaps = iconPixmaps();
        ASSERT_EQ(pixmaps.size(), 5) << side;
        for (int i = 0; const int size : {16, 22, 24, 32, 48}) {
            const Pixmap& pixmap = pixmaps[i++];
            EXPECT_EQ(QSize(pixmap.width, pixmap.height), QSize(size, size));
            ASSERT_EQ(pixmap.bytes.size(), size * size * 4);
            // Alpha first, then red, green and blue, whatever the machine's byte order.
            for (const int at : {0, size / 2, size - 1}) {
                EXPECT_EQ(pixmap.pixel(at, at), "ffd4a833") << side << " -> " << size;
            }
        }
    }
    EXPECT_EQ(property("IconAccessibleDesc"), QVariant(QStringLiteral("Zorvik")));
    settle();
    EXPECT_EQ(recorder.lines, QStringList{"NewIcon()"});

    item->setImage(filled(64, 64, Qt::white), QStringLiteral("Zorvik"));
    item->setImage(filled(64, 64, Qt::white), QStringLiteral("Zorvik, open"));
    settle();
    EXPECT_EQ(recorder.lines, (QStringList{"NewIcon()", "NewIcon()", "NewIcon()"}));

    // Half-transparent gold, twice as wide as high: at 48 pixels it needs no scaling.
    item->setImage(filled(48, 24, QColor(212, 168, 51, 128)), QStringLiteral("Zorvik"));
    const QList<Pixmap> pixmaps = iconPixmaps();
    ASSERT_EQ(pixmaps.size(), 5);
    const Pixmap& large = pixmaps.last();
    ASSERT_EQ(QSize(large.width, large.height), QSize(48, 48));
    // Not premultiplied (that would be 80 6a 54 19).
    const std::pair<QPoint, QByteArray> pixels[] = {{{0, 0}, "00000000"},
                                                    {{0, 11}, "00000000"},
                                                    {{0, 12}, "80d4a833"},
                                                    {{47, 35}, "80d4a833"},
                                                    {{47, 36}, "00000000"}};
    for (const auto& [at, bytes] : pixels) {
        EXPECT_EQ(large.pixel(at.x(), at.y()), bytes) << at.x() << "," << at.y();
    }
    item->setImage(QImage(), QString());
    EXPECT_TRUE(iconPixmaps().isEmpty());
}

// A host hears of a change only when there is one it can show: the label, its guide and the
// tooltip follow the title's text, not its colour, which turns secondary in the last seconds.
TEST_F(StatusNotifierItemOnSessionBus, LabelGuideAndToolTipSignalOnlyTheirChanges) {
    listen();
    item->setToolTip(kToolTip);
    item->setToolTip(kToolTip);
    item->setAttributedTitle(title("123 456", Qt::black));
    EXPECT_EQ(property("XAyatanaLabelGuide"), QVariant(QStringLiteral("000 000")));
    item->setAttributedTitle(title("123 456", Qt::gray));
    item->setAttributedTitle(title("123 456", Qt::gray));
    item->setAttributedTitle(title("1234 5678"));
    EXPECT_EQ(property("XAyatanaLabelGuide"), QVariant(QStringLiteral("0000 0000")));
    item->setAttributedTitle(title(""));
    item->setAttributedTitle(title(""));
    EXPECT_EQ(property("XAyatanaLabelGuide"), QVariant(QString()));
    settle();
    EXPECT_EQ(recorder.lines,
              (QStringList{"NewToolTip()", "XAyatanaNewLabel(123 456, 000 000)", "NewToolTip()",
                           "XAyatanaNewLabel(1234 5678, 0000 0000)", "NewToolTip()",
                           "XAyatanaNewLabel(, )", "NewToolTip()"}));
}

// The reference tool, as a person debugging a panel would use it. GetAll, as some hosts read the
// item in one go: every member with its value and its type as GLib reads them (QVariant compares
// numbers across types; a host does not). The code is the tooltip's text too, for hosts that draw
// no label. Every click runs the action with its point, whichever button it was; scrolling does
// not.
TEST_F(StatusNotifierItemOnSessionBus, GdbusReadsEveryPropertyWithItsTypeAndClicksTheItem) {
    item->setAttributedTitle(title("123 456"));
    item->setToolTip(kToolTip);
    QList<QPoint> anchors;
    item->setAction([&](QPoint anchor) { anchors.append(anchor); });
    const auto gdbus = [&](const QStringList& tail) {
        const ProcessRun run = runProcess(
            "gdbus", QStringList{"call", "--session", "-d", service, "-o", kItemPath, "-m"} + tail);
        EXPECT_TRUE(run.finished && run.exitCode == 0) << run.errors.toStdString();
        return QString::fromUtf8(run.output).trimmed();
    };
    EXPECT_EQ(
        gdbus({"org.freedesktop.DBus.Properties.GetAll", kItemInterface}),
        QStringLiteral(
            "({'AttentionIconName': <''>, 'AttentionIconPixmap': <@a(iiay) []>, "
            "'AttentionMovieName': <''>, 'Category': <'ApplicationStatus'>, "
            "'IconAccessibleDesc': <''>, 'IconName': <''>, 'IconPixmap': <@a(iiay) []>, "
            "'IconThemePath': <''>, 'Id': <'net.brontal.zorvik'>, 'ItemIsMenu': <false>, "
            "'Menu': <objectpath '/NO_DBUSMENU'>, 'OverlayIconName': <''>, "
            "'OverlayIconPixmap': <@a(iiay) []>, 'Status': <'Active'>, 'Title': <'Zorvik'>, "
            "'ToolTip': <('', @a(iiay) [], 'Zorvik — codes from your iPhone', '123 456')>, "
            "'WindowId': <0>, 'XAyatanaLabel': <'123 456'>, 'XAyatanaLabelGuide': <'000 000'>, "
            "'XAyatanaOrderingIndex': <uint32 0>},)"));
    for (const QStringList& click :
         {QStringList{"Activate", "12", "34"}, QStringList{"SecondaryActivate", "5", "6"},
          QStringList{"ContextMenu", "7", "8"}, QStringList{"Scroll", "3", "'vertical'"}}) {
        EXPECT_EQ(gdbus({kItemInterface + '.' + click[0], click[1], click[2]}), "()");
    }
    EXPECT_EQ(anchors, (QList<QPoint>{{12, 34}, {5, 6}, {7, 8}}));
}

TEST(StatusNotifierItemLabelGuide, KeepsBlanksAndTurnsEveryCharacterIntoOneZero) {
    EXPECT_EQ(StatusNotifierItem::labelGuideFor(""), "");
    EXPECT_EQ(StatusNotifierItem::labelGuideFor("AB1 C2D"), "000 000");
    // One user-perceived character each: e with a combining acute accent, and a flag.
    EXPECT_EQ(StatusNotifierItem::labelGuideFor(
                  QString::fromUtf8("e\xcc\x81 \xf0\x9f\x87\xa9\xf0\x9f\x87\xaa")),
              "0 0");
}

TEST(StatusNotifierItemClickPoint, ScalesAboutTheTopLeftOfTheScreenUnderTheClick) {
    // A 2× laptop panel (2560 × 1600 pixels) with a 1× monitor to its right.
    const QList<StatusNotifierItem::ScreenScale> screens{{QRect(0, 0, 1280, 800), 2},
                                                         {QRect(2560, 0, 1920, 1080), 1}};
    EXPECT_EQ(StatusNotifierItem::logicalPoint({2400, 20}, screens), QPoint(1200, 10));
    EXPECT_EQ(StatusNotifierItem::logicalPoint({3000, 20}, screens), QPoint(3000, 20));
    EXPECT_EQ(StatusNotifierItem::logicalPoint({0, 0}, screens), QPoint(0, 0))
        << "hosts that send no position keep sending none";
    EXPECT_EQ(StatusNotifierItem::logicalPoint({9000, 9000}, screens), QPoint(9000, 9000));
    EXPECT_EQ(StatusNotifierItem::logicalPoint({100, 100}, {}), QPoint(100, 100));
}

TEST(StatusNotifierItemWithoutBus, KeepsTheValuesAndOwnsNoName) {
    QTemporaryDir directory;
    const QDBusConnection missing = QDBusConnection::connectToBus(
        "unix:path=" + directory.filePath("no-bus"), "status-item-missing-bus");
    ASSERT_FALSE(missing.isConnected());
    {
        StatusNotifierItem item(missing);
        bool answered = false;
        QObject::connect(&item, &StatusNotifierItem::serviceNameChanged,
                         [&](const QString& name) { answered = name.isEmpty(); });
        EXPECT_TRUE(runEventsUntil([&] { return answered; }, 2000));
        item.setAttributedTitle(title("123 456"));
        EXPECT_EQ(item.label(), "123 456");
        EXPECT_FALSE(item.isRegistered());
    }
    QDBusConnection::disconnectFromBus("status-item-missing-bus");
}

// An X11 tray of the old kind (XEmbed) as far as Qt looks for one: a window owning the tray
// selection of the screen, announced to the root window. It docks nothing.
constexpr auto kFakeXEmbedTray = R"PY(
import ctypes as C, sys
x = C.CDLL("libX11.so.6")
x.XOpenDisplay.restype = C.c_void_p
d = C.c_void_p(x.XOpenDisplay(None))
if not d:
    sys.exit("fake tray: no display")
screen = x.XDefaultScreen(d)
root = x.XRootWindow(d, screen)  # ids and atoms fit an int, as ctypes passes them by default
tray = x.XCreateSimpleWindow(d, root, 0, 0, 1, 1, 0, 0, 0)
selection = x.XInternAtom(d, b"_NET_SYSTEM_TRAY_S%d" % screen, 0)
x.XSetSelectionOwner(d, selection, tray, 0)
if x.XGetSelectionOwner(d, selection) != tray:
    sys.exit("fake tray: the selection is taken")
L = C.c_long
class ClientMessage(C.Structure):
    _fields_ = [("type", C.c_int), ("serial", L), ("send_event", C.c_int), ("display", C.c_void_p),
                ("window", L), ("message_type", L), ("format", C.c_int), ("data", L * 5),
                ("pad", L * 12)]
manager = ClientMessage(type=33, window=root, message_type=x.XInternAtom(d, b"MANAGER", 0),
                        format=32)
manager.data[:] = [0, selection, tray, 0, 0]
x.XSendEvent(d, root, 0, L(1 << 17), C.byref(manager))
x.XFlush(d)
print("ready", flush=True)
event = (L * 24)()
while True:
    x.XNextEvent(d, event)
)PY";

constexpr auto kStandInMarker = "ZORVIK_STATUS_ITEM_STAND_IN_CHILD";

// Qt looks for a watcher on the session bus once per process: each stand-in test runs again in
// a child on X11, on a private bus when `busConfig` names one (else the session's own). True
// inside that child, where the test does its part.
bool insideChild(const QString& test, const QString& busConfig = {}) {
    if (qEnvironmentVariable(kStandInMarker) == "1") {
        return true;
    }
    qputenv(kStandInMarker, "1");  // for the child only
    const QStringList self = {QCoreApplication::applicationFilePath(),
                              "--gtest_filter=LinuxStatusItemStandIn." + test, "-platform", "xcb"};
    const ProcessRun run =
        busConfig.isEmpty()
            ? runProcess(self.first(), self.mid(1), 60000)
            : runProcess("dbus-run-session", QStringList{"--config-file=" + busConfig, "--"} + self,
                         60000);
    qunsetenv(kStandInMarker);
    const std::string output = (run.output + run.errors).toStdString();
    EXPECT_TRUE(run.finished && run.exitCode == 0) << output;
    EXPECT_TRUE(run.output.contains("[  PASSED  ] 1 test.")) << output;
    return false;
}

TEST(LinuxStatusItemStandIn, AnX11TrayIconStandsInWhileNoWatcherHasTheItem) {
    REQUIRE_DESKTOP_SESSION();
    QTemporaryDir directory;
    if (!insideChild("AnX11TrayIconStandsInWhileNoWatcherHasTheItem",
                     writePrivateBusConfig(directory.path()))) {
        return;
    }
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    QProcess tray;
    tray.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    tray.start("python3", {"-c", kFakeXEmbedTray});
    ASSERT_TRUE(runEventsUntil([&] { return tray.canReadLine(); }, 10000)) << "no fake tray";

    LinuxStatusItem item;
    int registrations = 0;
    QObject::connect(&item.statusNotifierItem(), &StatusNotifierItem::registeredChanged,
                     [&](bool registered) { registrations += registered ? 1 : 0; });
    QList<QPoint> anchors;
    item.setAction([&](QPoint anchor) { anchors.append(anchor); });
    item.setToolTip(kToolTip);
    item.setImage(filled(64, 64, kGold), "Zorvik");
    ASSERT_TRUE(runEventsUntil([&] { return item.standIn() != nullptr; }, 5000));
    EXPECT_TRUE(item.canStandIn());
    EXPECT_FALSE(item.statusNotifierItem().isRegistered()) << "registered without a watcher";
    EXPECT_TRUE(QSystemTrayIcon::isSystemTrayAvailable());
    QSystemTrayIcon& icon = item.standIn()->trayIcon();
    EXPECT_TRUE(icon.isVisible());
    EXPECT_FALSE(icon.icon().isNull());
    EXPECT_EQ(icon.toolTip(), kToolTip);
    item.setAttributedTitle(title("123 456"));
    EXPECT_EQ(icon.toolTip(), "123 456\n" + kToolTip);

    Q_EMIT icon.activated(QSystemTrayIcon::Trigger);
    Q_EMIT icon.activated(QSystemTrayIcon::DoubleClick);
    Q_EMIT icon.activated(QSystemTrayIcon::Context);
    const QRect geometry = icon.geometry();
    ASSERT_TRUE(geometry.isValid());
    const QPoint bottomCentre(geometry.x() + geometry.width() / 2,
                              geometry.y() + geometry.height());
    EXPECT_EQ(anchors, (QList<QPoint>{bottomCentre, bottomCentre}));

    // A panel with a watcher starts: the item goes there, and the stand-in away.
    QProcess watcher;
    watcher.setProcessChannelMode(QProcess::ForwardedChannels);
    const auto untilWatcherHasTheItem = [&] {
        watcher.start(ZORVIK_TRAY_WATCHER_PATH, QStringList());
        ASSERT_TRUE(runEventsUntil([&] { return item.standIn() == nullptr; }, 5000));
        EXPECT_TRUE(item.statusNotifierItem().isRegistered());
        EXPECT_EQ(registeredItems(QDBusConnection::sessionBus()),
                  QStringList{item.statusNotifierItem().serviceName() + kItemPath});
    };
    untilWatcherHasTheItem();
    EXPECT_EQ(item.statusNotifierItem().label(), "123 456");

    // It crashes: the stand-in comes back as it was.
    watcher.kill();
    ASSERT_TRUE(runEventsUntil([&] { return item.standIn() != nullptr; }, 5000));
    EXPECT_EQ(item.standIn()->trayIcon().toolTip(), "123 456\n" + kToolTip);
    EXPECT_TRUE(item.standIn()->trayIcon().isVisible());
    anchors.clear();
    Q_EMIT item.standIn()->trayIcon().activated(QSystemTrayIcon::Trigger);
    EXPECT_EQ(anchors.size(), 1);
    watcher.waitForFinished(3000);

    // It comes back: the item registers again.
    untilWatcherHasTheItem();
    EXPECT_EQ(registrations, 2);
    for (QProcess* process : {&watcher, &tray}) {
        process->kill();
        process->waitForFinished(3000);
    }
}

TEST(LinuxStatusItemStandIn, NoneWhenTheBusHadAWatcher) {
    REQUIRE_DESKTOP_SESSION();
    if (!insideChild("NoneWhenTheBusHadAWatcher")) {
        return;
    }
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    ASSERT_EQ(qEnvironmentVariable("ZORVIK_TRAY_WATCHER_RUNNING"), "1");
    LinuxStatusItem item;
    item.setImage(filled(64, 64, kGold), "Zorvik");
    ASSERT_TRUE(untilRegistered(item.statusNotifierItem()));
    // The question about the watcher went out before the registration; its answer is in.
    runEventsFor(100);
    EXPECT_FALSE(item.canStandIn());
    EXPECT_EQ(item.standIn(), nullptr);
}

}  // namespace

#include "StatusNotifierItemTests.moc"
