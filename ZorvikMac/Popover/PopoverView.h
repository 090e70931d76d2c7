#pragma once

#include <QWidget>
#include <functional>

#include "PopoverEnvironment.h"

class CodeReceiver;
class MacSettings;
class PopoverScreen;

// The popover's content: the header with its readiness mark, the checklist and the code card in
// a scroll area capped by the screen's height, the settings and the footer. It reports its own
// size through `onSize` whenever that changes, starting with the first layout.
class PopoverView : public QWidget {
    Q_OBJECT

public:
    PopoverView(CodeReceiver& receiver, MacSettings& settings, PopoverScreen& screen,
                std::function<void(double width, double height)> onSize, std::function<void()> quit,
                PopoverEnvironment environment, QWidget* parent = nullptr);
    ~PopoverView() override;
};
