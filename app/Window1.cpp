// The main window's building, opening, closing and the glue between its controls and layers.
#include "app/Window1.h"

#include "app/App.h"
#include "app/Canvas.h"
#include "app/KeyServerSetup.h"
#include "app/MainMenuBar.h"
#include "app/NetworkCategoryQuery.h"
#include "app/PairingCodeView.h"
#include "app/StatusLine.h"
#include "keys/KeyList.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPointer>

#include <utility>

namespace {

constexpr int kExplanationGrey = 57;
constexpr int kVersionGrey = 71;

QPointer<Window1> g_instance;

void setTextColor(QWidget* widget, int grey) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, QColor(grey, grey, grey));
    widget->setPalette(palette);
}

QLabel* addLabel(QLabel* label, const char* name, const QRect& geometry, const QString& text,
                 int grey, bool multiline) {
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    // Whatever a label shows, it never interprets it as markup.
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    // A left-aligned label starts at its top, however many lines it takes.
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setTextColor(label, grey);
    label->setWordWrap(multiline);
    label->setTextInteractionFlags(Qt::NoTextInteraction);
    label->setFocusPolicy(Qt::NoFocus);
    return label;
}

} // namespace

Window1::Window1(Window1Options options)
    : m_options(std::move(options)) {
    if (!m_options.currentYear)
        m_options.currentYear = [] { return QDate::currentDate().year(); };
    m_addressWatch = new runtime::AddressWatch(m_options.interfaces, m_options.addressCheckInterval,
                                               *m_options.clock, this);
    m_alert = new Alert(m_options.bell, m_options.burstInterval, *m_options.clock, this);
    m_networkCategory = new NetworkCategoryQuery(m_options.networkCategory, this);
    // On a network Windows classes as public, the installer's firewall rule (private and domain
    // networks) does not apply, and the phone's request never arrives.
    connect(m_networkCategory, &NetworkCategoryQuery::answered, this,
            [this](runtime::NetworkCategory category) {
                status()->reportPublicNetwork(category == runtime::NetworkCategory::Public);
            });
    connect(m_addressWatch, &runtime::AddressWatch::changed, this, &Window1::generate);
    connect(m_addressWatch, &runtime::AddressWatch::changed, this, &Window1::checkNetworkCategory);
    Layout();
    CreateControls();
}

Window1::~Window1() = default;

Window1* Window1::instance() {
    if (!g_instance) {
        g_instance = new Window1;
        g_instance->open();
    }
    return g_instance;
}

void Window1::releaseInstance() {
    delete g_instance;
}

void Window1::open() {
    show();
    Event_Open();
}

void Window1::Layout() {
    setMenuBar(MainMenuBar::instance());
    setWindowTitle(QStringLiteral("Zorvik_QRCode"));
    // A fixed document window: title, close and minimise boxes, no maximise or full screen.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    auto* content = new QWidget(this);
    content->setObjectName(QStringLiteral("content"));
    content->setFixedSize(kContentWidth, kContentHeight);
    setCentralWidget(content);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
    menuBar()->setVisible(true);
}

void Window1::CreateControls() {
    CreateControls0();
}

void Window1::CreateControls0() {
    QWidget* content = centralWidget();

    auto* canvas = new Canvas(content);
    canvas->setObjectName(QStringLiteral("Canvas1"));
    canvas->setGeometry(241, 109, 545, 195);
    setTextColor(canvas, kExplanationGrey);
    connect(canvas, &Canvas::pixelRatioChanged, this, &Window1::generate);

    auto* popup = new QComboBox(content);
    popup->setObjectName(QStringLiteral("PopupMenu1"));
    popup->setGeometry(402, 11, 294, 20);
    popup->setEditable(false);
    popup->setFocusPolicy(Qt::StrongFocus);
    connect(popup, qOverload<int>(&QComboBox::currentIndexChanged), this,
            &Window1::PopupMenu1_Change);

    QLabel* label1 =
        addLabel(new QLabel(content), "Label1", QRect(20, 11, 382, 20),
                 QStringLiteral("Clef de signature à installer dans votre tablette ou téléphone :"),
                 0, false);
    // Assistive technology names the list by the instruction beside it.
    label1->setBuddy(popup);
    addLabel(new QLabel(content), "Label2", QRect(20, 43, 754, 54),
             QStringLiteral("Ce QR Code doit être scanné depuis l'application Zorvik de votre "
                            "Smartphone ou tablette qui pourront ainsi télécharger votre clef de "
                            "signature électronique, indispensable à l'authentification de vos "
                            "équipements."),
             kExplanationGrey, true);
    addLabel(new QLabel(content), "version", QRect(20, 316, 262, 20),
             QStringLiteral("Clef de signature à convertir en QR Code : "), kVersionGrey, false);

    auto* status = new StatusLine(m_options.burstInterval, *m_options.clock, content);
    addLabel(status, "status", QRect(300, 316, 486, 20), status->text(), kVersionGrey, false);
}

Canvas* Window1::Canvas1() const {
    return findChild<Canvas*>(QStringLiteral("Canvas1"));
}

QComboBox* Window1::PopupMenu1() const {
    return findChild<QComboBox*>(QStringLiteral("PopupMenu1"));
}

QLabel* Window1::Label1() const {
    return findChild<QLabel*>(QStringLiteral("Label1"));
}

QLabel* Window1::Label2() const {
    return findChild<QLabel*>(QStringLiteral("Label2"));
}

QLabel* Window1::version() const {
    return findChild<QLabel*>(QStringLiteral("version"));
}

StatusLine* Window1::status() const {
    return findChild<StatusLine*>(QStringLiteral("status"));
}

void Window1::PopupMenu1_Change() {
    generate();
}

QAction* Window1::menuItem(const char* name) const {
    return menuBar()->findChild<QAction*>(QLatin1String(name));
}

QMenu* Window1::EditMenu() const {
    return menuBar()->findChild<QMenu*>(QStringLiteral("EditMenu"));
}

QAction* Window1::EditSelectAll() const {
    return menuItem("EditSelectAll");
}
QAction* Window1::EditSeparator2() const {
    return menuItem("EditSeparator2");
}
QAction* Window1::EditClear() const {
    return menuItem("EditClear");
}
QAction* Window1::EditPaste() const {
    return menuItem("EditPaste");
}
QAction* Window1::EditCopy() const {
    return menuItem("EditCopy");
}
QAction* Window1::EditCut() const {
    return menuItem("EditCut");
}
QAction* Window1::EditSeparator1() const {
    return menuItem("EditSeparator1");
}
QAction* Window1::EditUndo() const {
    return menuItem("EditUndo");
}

QMenu* Window1::FileMenu() const {
    return menuBar()->findChild<QMenu*>(QStringLiteral("FileMenu"));
}

QAction* Window1::FileQuit() const {
    return menuItem("FileQuit");
}

void Window1::Event_Open() {
    if (const App* app = App::instance()) {
        version()->setText(app->version().shortVersion);
        version()->setAccessibleName(QStringLiteral("Version ") + app->version().shortVersion);
    }

    fkeyfolderpath = keys::keysFolder(m_options.documents());

    delete mServer;
    KeyServerSetup setup;
    setup.source = {[this] { return PopupMenu1()->currentText(); },
                    [this] { return fkeyfolderpath; }};
    setup.port = m_options.port;
    setup.limits = m_options.limits;
    setup.clock = m_options.clock;
    setup.alert = m_alert;
    setup.status = status();
    setup.addressWatch = m_addressWatch;
    mServer = startKeyServer(this, setup);
    checkNetworkCategory();

    initmenu();
    status()->setKeyChosen(PopupMenu1()->count() > 0);
    // The rows never change, so without one there is no code to keep current.
    if (PopupMenu1()->count() > 0)
        m_addressWatch->start();
}

void Window1::Event_Close() {
    QCoreApplication::exit(0);
}

void Window1::closeEvent(QCloseEvent* event) {
    event->accept();
    Event_Close();
}

// Of the adapter the watch chose with the address: the interfaces are read once per change.
void Window1::checkNetworkCategory() {
    m_networkCategory->ask(m_addressWatch->advertisedIndex());
}

void Window1::initmenu() {
    const int year = m_options.currentYear();
    QComboBox* popup = PopupMenu1();
    // Adding the first row to the empty list selects it and raises the change event, so the
    // first pairing code is drawn exactly once; re-selecting row 0 afterwards changes nothing.
    for (const QString& key : keys::collectKeys(fkeyfolderpath, year)) {
        popup->addItem(key);
        popup->setCurrentIndex(0);
    }
}

void Window1::generate() {
    if (fkeyfolderpath.isNull() || !mServer)
        return;
    const runtime::FolderItem entry = fkeyfolderpath.child(PopupMenu1()->currentText());
    if (!entry.exists())
        return;
    // The address as the watch last read it: when the window opened, and with each change since.
    PairingCodeView(Canvas1(), width()).show(m_addressWatch->address(), entry.displayName());
}
