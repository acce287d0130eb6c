// The tool's only menu bar: File with Exit, and the standard Edit items with their shortcuts.
#pragma once

#include <QMenuBar>

class MainMenuBar : public QMenuBar {
    Q_OBJECT

public:
    /// The shared bar, created on first use. A window that is given the bar owns it; once that
    /// window is gone the next call builds a new one.
    static MainMenuBar* instance();

private:
    MainMenuBar();
    void Constructor();
    void Untitled0();
    void Untitled1();
    void addItem(const QString& parent, const QString& name, const QString& caption,
                 const QString& shortcut);
};
