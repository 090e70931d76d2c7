#include "SetupChecklistView.h"

SetupChecklistView::SetupChecklistView(CodeReceiver&, MacSettings&, PopoverEnvironment,
                                       QWidget* parent)
    : QWidget(parent) {}

SetupChecklistView::~SetupChecklistView() = default;
