// velk: the desktop application. Builds the process-wide objects (the
// application, the skin driver, the engine with its recorder list), makes
// the program's folder the current directory, applies the skin and runs the
// one window until it closes.
#include <QApplication>
#include <QDir>
#include <QIcon>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/EnginePort.h"
#include "app/EngineSetup.h"
#include "app/ProductTexts.h"
#include "app/SCSkinDriver.h"
#include "app/VELKFrameDlg.h"
#include "engine/api/BurnEngine.h"

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("velk %s\n", VELK_VERSION);
            return 0;
        }
    }
    // Without any display Qt would abort; say what is missing instead.
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY") &&
        qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        std::fprintf(stderr, "velk: no display to open the window on (DISPLAY and WAYLAND_DISPLAY are unset)\n");
        return 2;
    }
    QApplication application(argc, argv);
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/velk.svg")));
    QApplication::setApplicationName(QStringLiteral("velk"));
    QApplication::setDesktopFileName(QStringLiteral("velk"));

    velk::app::SCSkinDriver skin;
    velk::BurnEngine engine;
    std::string problem;
    if (!velk::app::AttachRecorders(engine, &problem)) std::fprintf(stderr, "velk: %s\n", problem.c_str());

    // The skin file is named relative to the program's folder.
    QDir::setCurrent(QCoreApplication::applicationDirPath());
    skin.Initialise(0);
    skin.SetEnabled(1);
    (void)skin.LoadSkinFile(QString::fromLatin1(velk::app::SkinFileName));
    skin.ApplySkin();

    velk::app::BurnEnginePort port(engine);
    velk::app::VELKFrameDlg frame(port, skin);
    frame.show();
    return QApplication::exec();
}
