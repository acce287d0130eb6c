// The menu bar. No code of the tool's own handles an Edit item; Exit quits.
#include "app/MainMenuBar.h"

#include <QAction>
#include <QCoreApplication>
#include <QKeySequence>
#include <QMenu>
#include <QPointer>

namespace {
const QString kSeparator = QStringLiteral("-");
}

MainMenuBar* MainMenuBar::instance() {
    static QPointer<MainMenuBar> shared;
    if (!shared)
        shared = new MainMenuBar;
    return shared;
}

MainMenuBar::MainMenuBar() {
    Constructor();
}

void MainMenuBar::Constructor() {
    Untitled0();
    Untitled1();
}

void MainMenuBar::Untitled0() {
    QMenu* fileMenu = addMenu(QStringLiteral("&File"));
    fileMenu->setObjectName(QStringLiteral("FileMenu"));
    addItem(QStringLiteral("FileMenu"), QStringLiteral("FileQuit"), QStringLiteral("E&xit"), {});
    QAction* quit = findChild<QAction*>(QStringLiteral("FileQuit"));
    quit->setMenuRole(QAction::QuitRole);
    connect(quit, &QAction::triggered, qApp, [] { QCoreApplication::exit(0); });
}

void MainMenuBar::Untitled1() {
    QMenu* editMenu = addMenu(QStringLiteral("&Edit"));
    editMenu->setObjectName(QStringLiteral("EditMenu"));
    const QString edit = QStringLiteral("EditMenu");
    addItem(edit, QStringLiteral("EditUndo"), QStringLiteral("&Undo"), QStringLiteral("Ctrl+Z"));
    addItem(edit, QStringLiteral("EditSeparator1"), kSeparator, {});
    addItem(edit, QStringLiteral("EditCut"), QStringLiteral("Cu&t"), QStringLiteral("Ctrl+X"));
    addItem(edit, QStringLiteral("EditCopy"), QStringLiteral("&Copy"), QStringLiteral("Ctrl+C"));
    addItem(edit, QStringLiteral("EditPaste"), QStringLiteral("&Paste"), QStringLiteral("Ctrl+V"));
    addItem(edit, QStringLiteral("EditClear"), QStringLiteral("&Delete"), {});
    addItem(edit, QStringLiteral("EditSeparator2"), kSeparator, {});
    addItem(edit, QStringLiteral("EditSelectAll"), QStringLiteral("Select &All"),
            QStringLiteral("Ctrl+A"));
}

void MainMenuBar::addItem(const QString& parent, const QString& name, const QString& caption,
                          const QString& shortcut) {
    QMenu* menu = findChild<QMenu*>(parent, Qt::FindDirectChildrenOnly);
    QAction* item = new QAction(menu);
    item->setObjectName(name);
    item->setEnabled(true);
    if (caption == kSeparator)
        item->setSeparator(true);
    else
        item->setText(caption);
    item->setVisible(true);
    item->setShortcut(QKeySequence(shortcut, QKeySequence::PortableText));
    menu->addAction(item);
}
