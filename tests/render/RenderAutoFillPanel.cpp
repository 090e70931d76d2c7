// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-render-autofill-panel: the AutoFill panel in each of its states, in the 320 × 230
// window the helper shows it in, as PNG files.
#include <QTemporaryDir>

#include "ZorvikMacAutoFill/AutoFillModel.h"
#include "ZorvikMacAutoFill/AutoFillPanel.h"
#include "shared/LatestCodeStore.h"
#include "tests/render/SceneRenderer.h"
#include "tests/support/ManualMainActor.h"

namespace {

const QColor gold = QColor::fromRgbF(0.83f, 0.66f, 0.20f);
const QSize helperWindow(320, 230);

struct PanelState {
    bool configuration = false;
    // Seconds from the scene's instant to the code's expiry; no file when absent.
    std::optional<double> expiresIn;
    QStringList requestedSites;
};

// A panel on virtual time over a real latest-code file in a temporary directory.
class PanelScene final : public SceneContent {
public:
    explicit PanelScene(const PanelState& state) {
        if (state.expiresIn) {
            const Instant now = actor_.now();
            store_.save(LatestCode{QStringLiteral("Work GitHub"), QStringLiteral("github"),
                                   QStringLiteral("123456"), QStringLiteral("iPhone 15"),
                                   addingSeconds(now, -20), addingSeconds(now, -19),
                                   addingSeconds(now, *state.expiresIn)});
        }
        model_.setServiceIdentifiers(state.requestedSites);
        if (state.configuration) {
            model_.setMode(AutoFillModel::Mode::configuration);
        }
        panel_ = new AutoFillPanel(model_, gold, actor_);
    }

    QWidget* widget() override { return panel_; }
    // The first tick, which reads the file, runs from the queue after the first show.
    void settle() override { actor_.runUntilIdle(); }

private:
    QTemporaryDir directory_;
    LatestCodeStore store_{directory_.filePath(QStringLiteral("latest-code.json"))};
    ManualMainActor actor_;
    AutoFillModel model_{store_};
    AutoFillPanel* panel_ = nullptr;
};

Scene panelScene(const QString& name, const PanelState& state) {
    return {QStringLiteral("autofill-panel-") + name, helperWindow,
            [state] { return std::make_unique<PanelScene>(state); }};
}

std::vector<Scene> scenes() {
    const QStringList sameSite{QStringLiteral("github.com")};
    const QStringList otherSite{QStringLiteral("https://www.example.com/login")};
    // Fields in order: configuration mode, seconds to the code's expiry, requested sites.
    return {
        panelScene(QStringLiteral("waiting"), {false, std::nullopt, {}}),
        panelScene(QStringLiteral("expired"), {false, -5.0, {}}),
        panelScene(QStringLiteral("code"), {false, 42.0, sameSite}),
        panelScene(QStringLiteral("code-different-site"), {false, 42.0, otherSite}),
        panelScene(QStringLiteral("configuration"), {true, std::nullopt, {}}),
    };
}

}  // namespace

int main(int argc, char** argv) {
    return runRenderTool(argc, argv, QStringLiteral("zorvik-render-autofill-panel"),
                         QStringLiteral("Draws the AutoFill panel in its states: waiting, "
                                        "expired, a code for the requested site, a code for a "
                                        "different site, and configuration."),
                         scenes);
}
