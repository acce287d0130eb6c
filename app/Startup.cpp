// Start-up order and the services the lower layers borrow from the GUI.
#include "app/Startup.h"

#include "app/App.h"
#include "app/MainMenuBar.h"
#include "app/ProductVersion.h"
#include "app/Window1.h"

#include <QIcon>
#include <QMessageBox>

#include <algorithm>
#include <cstdio>
#include <exception>
#include <memory>

namespace {

App::VersionData productVersion() {
    App::VersionData version;
    version.majorVersion = productversion::kMajor;
    version.minorVersion = productversion::kMinor;
    version.bugVersion = productversion::kBug;
    version.nonReleaseVersion = productversion::kNonRelease;
    version.stageCode = 0;
    version.longVersion = QString::fromLatin1(productversion::kText);
    version.shortVersion = version.longVersion;
    version.packageInfo =
        version.longVersion + QStringLiteral(" (development) - hands a signature key to a phone");
    return version;
}

} // namespace

App* EarlyStartup(int& argc, char** argv) {
#if QT_VERSION < QT_VERSION_CHECK(6, 0, 0)
    // Qt 5 draws at one device pixel per layout pixel unless told otherwise, which leaves the
    // window tiny and the code fuzzy once Windows scales the desktop; Qt 6 always scales.
    QCoreApplication::setAttribute(Qt::AA_EnableHighDpiScaling);
    QCoreApplication::setAttribute(Qt::AA_UseHighDpiPixmaps);
#endif
    // Fractional scale factors pass through unrounded; the pairing code rounds its modules to
    // whole device pixels itself.
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::PassThrough);
    InitFileTypes();
    return NewAppInstance(argc, argv);
}

void InitFileTypes() {}

App* NewAppInstance(int& argc, char** argv) {
    // The program takes no arguments: the toolkit sees only the program's name, so none of its
    // own options (-reverse, -qwindowtitle, -style...) changes the window. Both must outlive
    // the application object.
    static int nameOnlyCount = std::min(argc, 1);
    static char* nameOnly[] = {argv[0], nullptr};
    auto* app = new App(nameOnlyCount, nameOnly);
    app->Constructor();
    app->setApplicationName(QStringLiteral("Zorvik_QRCode"));
    app->setVersion(productVersion());
    // The executable's own resources carry the pictures; the taskbar and title bar take them from
    // here, the file manager from the Windows resource or the desktop entry.
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/icons/%1.png").arg(size), QSize(size, size));
    QApplication::setWindowIcon(icon);
    app->setMenuBar(MainMenuBar::instance());
    return app;
}

void LateStartup() {
    MakeDefaultView();
}

void MakeDefaultView() {
    Window1::instance();
}

int Main(int& argc, char** argv) {
    std::unique_ptr<App> app;
    try {
        app.reset(EarlyStartup(argc, argv));
        LateStartup();
        const int code = App::exec();
        Window1::releaseInstance();
        return code;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "Unexpected failure: %s\n", e.what());
        if (app) {
            QMessageBox box(QMessageBox::Critical, QStringLiteral("Zorvik_QRCode"),
                            QStringLiteral("Unexpected failure: ") + QString::fromUtf8(e.what()));
            box.setTextFormat(Qt::PlainText);
            box.exec();
        }
        return 1;
    }
}
