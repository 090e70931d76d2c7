// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/render/SceneRenderer.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QLocale>
#include <QPixmap>
#include <QStyle>
#include <QStyleFactory>
#include <QVBoxLayout>
#include <cstdio>

#include "shared/AppTranslations.h"

namespace {

QPalette darkPalette() {
    QPalette palette;
    const QColor window(0x2B, 0x2B, 0x2D);
    const QColor text(0xEC, 0xEC, 0xEE);
    const QColor button(0x45, 0x45, 0x48);
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    // Lighter than the window, so check boxes and fields stand out as on desktop dark themes.
    palette.setColor(QPalette::Base, QColor(0x3A, 0x3A, 0x3C));
    palette.setColor(QPalette::AlternateBase, QColor(0x32, 0x32, 0x35));
    palette.setColor(QPalette::Text, text);
    palette.setColor(QPalette::Button, button);
    palette.setColor(QPalette::ButtonText, text);
    palette.setColor(QPalette::BrightText, Qt::white);
    palette.setColor(QPalette::Light, button.lighter(140));
    palette.setColor(QPalette::Midlight, button.lighter(120));
    palette.setColor(QPalette::Mid, button.darker(120));
    palette.setColor(QPalette::Dark, QColor(0x1A, 0x1A, 0x1C));
    palette.setColor(QPalette::Shadow, Qt::black);
    palette.setColor(QPalette::Highlight, QColor(0x0A, 0x84, 0xFF));
    palette.setColor(QPalette::HighlightedText, Qt::white);
    palette.setColor(QPalette::ToolTipBase, window);
    palette.setColor(QPalette::ToolTipText, text);
    palette.setColor(QPalette::PlaceholderText, QColor(0x8E, 0x8E, 0x93));
    palette.setColor(QPalette::Link, QColor(0x41, 0x9C, 0xFF));
    const QColor disabledText(0x7A, 0x7A, 0x7E);
    for (const auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText}) {
        palette.setColor(QPalette::Disabled, role, disabledText);
    }
    return palette;
}

// Draws one scene in one appearance and writes it; false when the file cannot be written.
bool renderScene(const Scene& scene, const Appearance& appearance, const QDir& out) {
    QApplication::setPalette(appearance.palette);
    std::unique_ptr<SceneContent> content = scene.make();
    {
        auto frame = std::make_unique<QWidget>();
        frame->setFixedSize(scene.frameSize);
        frame->setPalette(appearance.palette);
        auto* layout = new QVBoxLayout(frame.get());
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(content->widget());
        frame->show();
        content->settle();
        QApplication::processEvents();

        const QString path =
            out.filePath(scene.name + QLatin1Char('-') + appearance.name + QStringLiteral(".png"));
        if (!frame->grab().save(path, "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(path));
            return false;
        }
        std::printf("%s\n", qPrintable(path));
    }
    return true;
}

}  // namespace

std::vector<Appearance> standardAppearances() {
    std::unique_ptr<QStyle> fusion(QStyleFactory::create(QStringLiteral("Fusion")));
    return {{QStringLiteral("light"), fusion->standardPalette()},
            {QStringLiteral("dark"), darkPalette()}};
}

int runRenderTool(int argc, char** argv, const QString& toolName, const QString& description,
                  const std::function<std::vector<Scene>()>& scenes) {
    // The scale must be known before the application exists; every other option is read by
    // the parser below.
    for (int i = 1; i + 1 < argc; ++i) {
        if (qstrcmp(argv[i], "--scale") == 0) {
            qputenv("QT_SCALE_FACTOR", argv[i + 1]);
        }
    }
    // Drawing needs no screen: without a display the offscreen platform draws the same pixels.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") && qEnvironmentVariableIsEmpty("DISPLAY") &&
        qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication application(argc, argv);
    QApplication::setApplicationName(toolName);
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        description +
        QStringLiteral("\n\nEach scene is drawn by the real widgets in a light and a dark "
                       "palette and written as <out>/<scene>-<light|dark>.png; the paths are "
                       "printed one per line. Run it on a display (for example under "
                       "scripts/desktop-session with QT_QPA_PLATFORM=xcb); without one it draws "
                       "offscreen."));
    parser.addHelpOption();
    const QCommandLineOption outOption(QStringLiteral("out"),
                                       QStringLiteral("Directory for the PNG files (made when "
                                                      "missing)."),
                                       QStringLiteral("DIR"));
    const QCommandLineOption scaleOption(
        QStringLiteral("scale"),
        QStringLiteral("Device pixels per point, e.g. 2 for a HiDPI screen (default 1)."),
        QStringLiteral("N"));
    const QCommandLineOption languageOption(
        QStringLiteral("language"),
        QStringLiteral("Draw the texts in this language, e.g. de (default: as written)."),
        QStringLiteral("LANG"));
    parser.addOption(outOption);
    parser.addOption(scaleOption);
    parser.addOption(languageOption);
    parser.process(application);
    if (parser.isSet(languageOption)) {
        installTranslations(application, QLocale(parser.value(languageOption)));
    }

    if (!parser.isSet(outOption) || !parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s: --out DIR is required (see --help)\n", qPrintable(toolName));
        return 2;
    }
    const QDir out(parser.value(outOption));
    if (!out.mkpath(QStringLiteral("."))) {
        std::fprintf(stderr, "%s: cannot make %s\n", qPrintable(toolName), qPrintable(out.path()));
        return 1;
    }
    bool written = true;
    for (const Appearance& appearance : standardAppearances()) {
        for (const Scene& scene : scenes()) {
            written = renderScene(scene, appearance, out) && written;
        }
    }
    return written ? 0 : 1;
}
