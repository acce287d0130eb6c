// The main window: the key list, the pairing code, and the key server it owns.
#pragma once

#include "app/Alert.h"
#include "app/Coalescer.h"
#include "runtime/AddressWatch.h"
#include "runtime/Clock.h"
#include "runtime/FolderItem.h"
#include "runtime/LocalAddress.h"
#include "runtime/NetworkCategory.h"
#include "server/HTTPServer.h"

#include <QMainWindow>

#include <chrono>
#include <functional>

class Canvas;
class NetworkCategoryQuery;
class StatusLine;
class QAction;
class QComboBox;
class QLabel;
class QMenu;

/// What the window reads of the world. The product uses the defaults; tests substitute.
struct Window1Options {
    std::function<runtime::FolderItem()> documents = &runtime::FolderItem::documents;
    std::function<int()> currentYear; // default: the year of the current local date
    /// The machine's network interfaces, read afresh; the pairing code carries the address
    /// chosen from them, and the peer rule takes their subnets.
    std::function<QList<runtime::InterfaceInfo>()> interfaces = &runtime::systemInterfaces;
    /// How often the interfaces are read again so that the code and the peer rule follow them.
    std::chrono::milliseconds addressCheckInterval = runtime::AddressWatch::kInterval;
    /// The category Windows gives the network of an interface (by system index), asked on a
    /// worker thread.
    std::function<runtime::NetworkCategory(int interfaceIndex)> networkCategory =
        &runtime::networkCategoryOf;
    quint16 port = server::HTTPServer::kPort;
    server::ServerLimits limits;
    /// Makes the alert sound.
    std::function<void()> bell = &Alert::systemBell;
    /// Events closer together than this are one burst: the alert sounds once for it and the
    /// status line changes at most once per interval.
    std::chrono::milliseconds burstInterval = Coalescer::kInterval;
    /// What the window's timers, its server's included, keep time on.
    runtime::Clock* clock = &runtime::Clock::system();
};

class Window1 : public QMainWindow {
    Q_OBJECT

public:
    static constexpr int kContentWidth = 806;
    static constexpr int kContentHeight = 340;

    /// Builds the window (menu bar, settings, controls); open() shows it and opens it.
    explicit Window1(Window1Options options = {});
    ~Window1() override;

    /// The shared main window; the first call creates, shows and opens it.
    static Window1* instance();
    /// Destroys the shared main window, if there is one.
    static void releaseInstance();

    void open();

    Canvas* Canvas1() const;
    QComboBox* PopupMenu1() const;
    QLabel* Label1() const;
    QLabel* Label2() const;
    QLabel* version() const;
    /// The line that says what the last device did; never a tab stop.
    StatusLine* status() const;

    void PopupMenu1_Change();

    QMenu* EditMenu() const;
    QAction* EditSelectAll() const;
    QAction* EditSeparator2() const;
    QAction* EditClear() const;
    QAction* EditPaste() const;
    QAction* EditCopy() const;
    QAction* EditCut() const;
    QAction* EditSeparator1() const;
    QAction* EditUndo() const;
    QMenu* FileMenu() const;
    QAction* FileQuit() const;

    void Event_Open();
    void Event_Close();
    void generate();
    void initmenu();

    /// Documents/KELVANOR2/Clefs2; unset unless all three levels existed when the window opened.
    runtime::FolderItem fkeyfolderpath;
    /// The key server, created when the window opens; owned by the window.
    server::HTTPServer* mServer = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void Layout();
    void CreateControls();
    void CreateControls0();
    QAction* menuItem(const char* name) const;
    void checkNetworkCategory();

    Window1Options m_options;
    Alert* m_alert = nullptr;
    runtime::AddressWatch* m_addressWatch = nullptr;
    NetworkCategoryQuery* m_networkCategory = nullptr;
};
