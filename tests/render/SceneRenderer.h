// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QPalette>
#include <QSize>
#include <QString>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

// Draws the real widgets of an interface in chosen states to PNG files, in a light and a dark
// palette, so a change of look can be reviewed picture by picture. A tool names its scenes and
// hands them to runRenderTool; everything else (options, palettes, frames, files) is shared.

// What a scene puts into its frame, with whatever else the widget needs alive (models, clocks,
// temporary files). The frame is destroyed before the content.
class SceneContent {
public:
    virtual ~SceneContent() = default;
    // The widget to show; the frame takes it as its only child.
    virtual QWidget* widget() = 0;
    // Runs once the frame is shown, before it is drawn: lets queued work and timers run.
    virtual void settle() {}
};

struct Scene {
    QString name;     // the file name's first part, e.g. "autofill-panel-waiting"
    QSize frameSize;  // the window the content sits in, as the product hosts it
    std::function<std::unique_ptr<SceneContent>()> make;
};

struct Appearance {
    QString name;  // "light" or "dark", the file name's last part
    QPalette palette;
};

// The Fusion style's own palette, and a dark one near the desktop's dark themes.
std::vector<Appearance> standardAppearances();

// Parses the command line (--out DIR, --scale N, --help), makes the application and writes
// `<out>/<scene>-<appearance>.png` for every scene in every appearance. Returns the exit status.
int runRenderTool(int argc, char** argv, const QString& toolName, const QString& description,
                  const std::function<std::vector<Scene>()>& scenes);
