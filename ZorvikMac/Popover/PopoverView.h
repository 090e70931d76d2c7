// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QSize>
#include <QWidget>
#include <functional>

#include "ZorvikMac/Popover/PopoverEnvironment.h"

class CodeArea;
class CodeReceiver;
class MacSettings;
class PopoverScreen;
class PopoverSettingsSection;
class QLabel;
class QScrollArea;
class ReadinessMark;
class SetupChecklistView;
class SymbolView;

// The popover's content: the header with its readiness mark, the checklist and the code card in
// a scroll area capped by the screen's height, the settings and the footer. It reports its own
// size through `onSize` whenever that changes, starting with the first layout.
class PopoverView : public QWidget {
    Q_OBJECT

public:
    // What the measured heights are taken to be until the first layout measures them.
    static constexpr int estimatedHeaderHeight = 40;
    static constexpr int estimatedBottomHeight = 170;
    static constexpr int estimatedScrollContentHeight = 120;
    // Room kept free above and below the popover on the screen.
    static constexpr double screenMargin = 48;
    // The scroll area is never capped below this (unless its content is shorter).
    static constexpr double minimumScrollHeight = 160;

    PopoverView(CodeReceiver& receiver, MacSettings& settings, PopoverScreen& screen,
                std::function<void(double width, double height)> onSize, std::function<void()> quit,
                PopoverEnvironment environment, QWidget* parent = nullptr);
    ~PopoverView() override;

    // The scroll area's height for a screen of `screenHeight` usable points and the measured
    // heights of the header, the bottom block and the scroll area's content: as tall as the
    // content, at most what the screen leaves, but not capped below 160.
    static double scrollHeight(double screenHeight, double headerHeight, double bottomHeight,
                               double contentHeight);

    // The measured heights (the estimates until the first layout) and the scroll area's height.
    int headerHeight() const { return headerHeight_; }
    int bottomHeight() const { return bottomHeight_; }
    int scrollContentHeight() const { return scrollContentHeight_; }
    int scrollAreaHeight() const;

    // 340 wide, as tall as the parts want with the scroll area capped.
    QSize sizeHint() const override;

    // Puts the keyboard where the user most likely wants it: on the code's Copy button, else on
    // the first checklist row that needs the user, else on the first control.
    void focusFirst();

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Heights {
        int header = 0;
        int bottom = 0;
        int scrollContent = 0;
    };

    QWidget* buildHeader(CodeReceiver& receiver);
    QWidget* buildScrollContent(CodeReceiver& receiver, MacSettings& settings);
    QWidget* buildBottom(CodeReceiver& receiver, MacSettings& settings, std::function<void()> quit);
    // The parts' heights as they would lay out now.
    Heights measuredHeights() const;
    int cappedScrollHeight(const Heights& heights) const;
    // Takes new measurements, caps the scroll area by them, and reports a changed size.
    void measure();
    void applyColors();

    PopoverScreen& screen_;
    std::function<void(double, double)> onSize_;
    PopoverEnvironment environment_;

    int headerHeight_ = estimatedHeaderHeight;
    int bottomHeight_ = estimatedBottomHeight;
    int scrollContentHeight_ = estimatedScrollContentHeight;
    // Nothing is reported before the first layout.
    bool laidOut_ = false;
    bool measuring_ = false;
    QSize reportedSize_;

    QWidget* header_ = nullptr;
    SymbolView* lockSymbol_ = nullptr;
    QLabel* productName_ = nullptr;
    QLabel* platformName_ = nullptr;
    ReadinessMark* readinessMark_ = nullptr;
    QScrollArea* scrollArea_ = nullptr;
    QWidget* scrollContent_ = nullptr;
    CodeArea* codeArea_ = nullptr;
    SetupChecklistView* checklist_ = nullptr;
    QWidget* bottom_ = nullptr;
    PopoverSettingsSection* settingsSection_ = nullptr;
};
