// The application object.
#include "app/App.h"

#include "app/MainMenuBar.h"

#include <QMessageBox>

#include <cstdio>
#include <cstdlib>
#include <exception>

App::App(int& argc, char** argv)
    : QApplication(argc, argv) {}

App* App::instance() {
    return qobject_cast<App*>(QCoreApplication::instance());
}

void App::setVersion(const VersionData& version) {
    m_version = version;
    setApplicationVersion(version.longVersion);
}

bool App::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& e) {
        const QString text = QStringLiteral("Unexpected failure: ") + QString::fromUtf8(e.what());
        std::fprintf(stderr, "%s\n", text.toUtf8().constData());
        // A failure's text may quote a file's name: shown as it is, never as markup.
        QMessageBox box(QMessageBox::Critical, applicationName(), text);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    } catch (...) {
        std::fprintf(stderr, "Unexpected failure\n");
        QMessageBox::critical(nullptr, applicationName(), QStringLiteral("Unexpected failure"));
    }
    std::exit(EXIT_FAILURE);
}
