#pragma once

#include <QWidget>

#include "PopoverEnvironment.h"

class CodeReceiver;
class MacSettings;

// The foldable setup checklist at the top of the popover: the seven readiness rows with their
// state symbols, details and controls, or, folded, a one-line summary.
class SetupChecklistView : public QWidget {
    Q_OBJECT

public:
    SetupChecklistView(CodeReceiver& receiver, MacSettings& settings,
                       PopoverEnvironment environment, QWidget* parent = nullptr);
    ~SetupChecklistView() override;
};
