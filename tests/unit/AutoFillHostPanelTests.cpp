// SPDX-License-Identifier: GPL-3.0-or-later
// The host with the panel's window behind a scripted interface: which requests start the
// interface, what the window is asked to do, and how its closing and its buttons end a request.
#include <gtest/gtest.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonObject>

#include "ZorvikMacAutoFill/AutoFillInterface.h"
#include "ZorvikMacAutoFill/AutoFillModel.h"
#include "ZorvikMacAutoFill/CredentialProviderViewController.h"
#include "ZorvikMacAutoFill/Host/AutoFillHost.h"
#include "platform/ByteChannel.h"
#include "shared/Iso8601.h"
#include "tests/support/QStringPrinter.h"
#include "tests/support/TemporaryAppGroupContainers.h"

namespace {

const Instant kNow = *Iso8601::parse(u"2026-03-01T12:00:10Z");

// The browser's side: all its requests at once, then the end of the input.
class ScriptedChannel final : public ByteChannel {
public:
    QByteArray read() override { return std::exchange(input, {}); }
    bool write(QByteArrayView bytes) override {
        output.append(bytes);
        return true;
    }
    void report(const QString& line) override { reports.append(line); }
    void watchInput(std::function<void()>) override {}

    QByteArray input;
    QByteArray output;
    QStringList reports;
};

// What happened to the windows, in order.
using Log = QStringList;

// A window that does at once, when presented, what the user would: close it, press the panel's
// Fill, or nothing at all (then the host would wait, which these tests never let it).
class ScriptedWindow final : public AutoFillPanelWindow {
public:
    enum class User { closes, fills };
    ScriptedWindow(Log& log, AutoFillModel& model, QSize size, User user)
        : log_(log), model_(model), size_(size), user_(user) {}
    ~ScriptedWindow() override { log_.append("destroyed"); }

    QSize size() const override { return size_; }
    void present(QSize size, std::function<void()> closed) override {
        log_.append(QStringLiteral("present %1x%2").arg(size.width()).arg(size.height()));
        if (user_ == User::closes) {
            closed();
            // A second close, as a window system may send, ends nothing more.
            closed();
        } else {
            model_.onFill(QStringLiteral("112233"));
        }
    }
    void hide() override { log_.append("hide"); }

private:
    Log& log_;
    AutoFillModel& model_;
    QSize size_;
    User user_;
};

class ScriptedInterface final : public AutoFillInterface {
public:
    ScriptedInterface(Log& log, ScriptedWindow::User user) : log_(log), user_(user) {}
    std::unique_ptr<AutoFillPanelWindow> makePanelWindow(AutoFillModel& model,
                                                         QSize size) override {
        log_.append(QStringLiteral("window %1x%2").arg(size.width()).arg(size.height()));
        return std::make_unique<ScriptedWindow>(log_, model, size, user_);
    }

private:
    Log& log_;
    ScriptedWindow::User user_;
};

QByteArray request(const QJsonObject& object) {
    return encodeFrame(QJsonDocument(object).toJson(QJsonDocument::Compact));
}

QByteArray provide(int id, const char* type, const char* page = "github.com") {
    const QJsonObject site{{"identifier", "github.com"}, {"type", "domain"}};
    const QJsonObject identity{{"serviceIdentifier", site}, {"recordIdentifier", "latest-code"}};
    return request({{"id", id},
                    {"type", type},
                    {"site", page},
                    {"request", QJsonObject{{"type", 3}, {"credentialIdentity", identity}}}});
}

class AutoFillHostPanelTest : public testing::Test {
protected:
    // Runs the host on `input` with `interface` (or none) and gives its answers.
    QStringList run(const QByteArray& input, AutoFillInterface* interface) {
        ScriptedChannel channel;
        channel.input = input;
        AutoFillHost host({channel,
                           store,
                           std::nullopt,
                           [] { return kNow; },
                           [&]() -> AutoFillInterface* {
                               ++interfaceStarts;
                               return interface;
                           },
                           {}});
        EXPECT_EQ(host.run(), 0);
        EXPECT_TRUE(channel.reports.isEmpty()) << channel.reports.join('\n').toStdString();
        FrameReader reader;
        reader.append(channel.output);
        QStringList answers;
        while (auto item = reader.next()) {
            answers.append(QString::fromUtf8(std::get<QByteArray>(*item)));
        }
        return answers;
    }
    void saveCode() {
        store->save({"Work GitHub", "github", "654321", "iPhone", addingSeconds(kNow, -5),
                     addingSeconds(kNow, -4), addingSeconds(kNow, 60)});
    }

    TemporaryAppGroupContainers containers;
    std::optional<LatestCodeStore> store = LatestCodeStore::make(containers);
    int interfaceStarts = 0;
    Log log;
};

const QString kFilled = R"({"code":"%1","id":%2,"result":"code"})";
const QString kCancelled =
    R"({"error":{"code":%1,"domain":"ASExtensionErrorDomain"},"id":%2,"result":"cancelled"})";

TEST_F(AutoFillHostPanelTest, TheCodeIsAnsweredWithoutStartingTheInterface) {
    ScriptedInterface interface(log, ScriptedWindow::User::closes);
    saveCode();
    EXPECT_EQ(run(provide(1, "provideWithoutUserInteraction") +
                      provide(2, "provideWithoutUserInteraction", "evil.example"),
                  &interface),
              (QStringList{kFilled.arg("654321").arg(1), kCancelled.arg(100).arg(2)}));
    EXPECT_EQ(interfaceStarts, 0);
    EXPECT_TRUE(log.isEmpty());
}

TEST_F(AutoFillHostPanelTest, ClosingThePanelsWindowIsTheUsersCancel) {
    ScriptedInterface interface(log, ScriptedWindow::User::closes);
    EXPECT_EQ(run(request({{"id", 7}, {"type", "prepareConfiguration"}}), &interface),
              QStringList{kCancelled.arg(1).arg(7)});
    EXPECT_EQ(log, (Log{"window 320x230", "present 320x230", "hide", "destroyed"}));
}

TEST_F(AutoFillHostPanelTest, ThePanelsFillAnswersTheCodeAndAValidCodeNeedsNoPanel) {
    ScriptedInterface interface(log, ScriptedWindow::User::fills);
    // No code yet, but the container the fill marker goes to.
    ASSERT_TRUE(QDir().mkpath(QFileInfo(store->url()).path()));
    EXPECT_EQ(run(provide(1, "prepareInterfaceToProvide"), &interface),
              QStringList{kFilled.arg("112233").arg(1)});
    EXPECT_EQ(log, (Log{"window 320x230", "present 320x230", "hide", "destroyed"}));
    EXPECT_TRUE(store->filledAt()) << "a fill from the panel is marked";

    log.clear();
    saveCode();
    EXPECT_EQ(run(provide(2, "prepareInterfaceToProvide"), &interface),
              QStringList{kFilled.arg("654321").arg(2)});
    EXPECT_EQ(log, (Log{"window 320x230", "hide", "destroyed"}))
        << "the window is made, but filled before it is ever shown";
}

}  // namespace
