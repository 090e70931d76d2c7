// SPDX-License-Identifier: GPL-3.0-or-later
// zorvik-autofill-panel.so: the AutoFill helper's graphical interface, with the toolkit, the
// panel and the translations. The helper loads it only for a request that shows the panel (see
// Host/PanelModuleLoader.h); everything else it answers with QtCore alone.
#include <QApplication>
#include <type_traits>

#include "ZorvikMacAutoFill/AutoFillInterface.h"
#include "ZorvikMacAutoFill/PanelWindow.h"
#include "platform/linux/QtMainActor.h"
#include "shared/AppTranslations.h"

namespace {

class QtAutoFillInterface final : public AutoFillInterface {
public:
    QtAutoFillInterface(int& argc, char** argv) : application_(argc, argv) {
        installTranslations(application_);
        QApplication::setQuitOnLastWindowClosed(false);
    }

    std::unique_ptr<AutoFillPanelWindow> makePanelWindow(AutoFillModel& model,
                                                         QSize size) override {
        return std::make_unique<PanelWindow>(model, mainActor_, size);
    }

private:
    QApplication application_;
    // Made after the application object and gone before it.
    QtMainActor mainActor_;
};

}  // namespace

extern "C" Q_DECL_EXPORT AutoFillInterface* ZORVIK_AUTOFILL_INTERFACE_ENTRY(int& argc,
                                                                            char** argv) {
    return new QtAutoFillInterface(argc, argv);
}
static_assert(std::is_same_v<decltype(&ZORVIK_AUTOFILL_INTERFACE_ENTRY), AutoFillInterfaceEntry>);
