#include "PopoverView.h"

PopoverView::PopoverView(CodeReceiver&, MacSettings&, PopoverScreen&,
                         std::function<void(double, double)>, std::function<void()>,
                         PopoverEnvironment, QWidget* parent)
    : QWidget(parent) {}

PopoverView::~PopoverView() = default;
