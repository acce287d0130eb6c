// The one application object, with the version data the window shows.
#pragma once

#include <QApplication>
#include <QPointer>
#include <QString>

class MainMenuBar;

class App : public QApplication {
    Q_OBJECT

public:
    struct VersionData {
        int majorVersion = 0;
        int minorVersion = 0;
        int bugVersion = 0;
        int nonReleaseVersion = 0;
        int stageCode = 0; // 0: development
        QString longVersion;
        QString shortVersion;
        QString packageInfo;
    };

    App(int& argc, char** argv);
    void Constructor() {}

    /// The registered application object; null before start-up created it.
    static App* instance();

    const VersionData& version() const { return m_version; }
    void setVersion(const VersionData& version);

    MainMenuBar* menuBar() const { return m_menuBar; }
    void setMenuBar(MainMenuBar* bar) { m_menuBar = bar; }

    /// Last resort for a failure that escapes an event handler: tells the user, then ends the
    /// program, since the event loop cannot be trusted after it.
    bool notify(QObject* receiver, QEvent* event) override;

private:
    VersionData m_version;
    QPointer<MainMenuBar> m_menuBar;
};
