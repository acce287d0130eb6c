// The main window's building, opening, closing and the glue between its controls and layers.
#include "app/Window1.h"

#include "app/App.h"
#include "app/Canvas.h"
#include "app/MainMenuBar.h"
#include "keys/KeyList.h"
#include "pairing/BarcodeGenerator.h"
#include "pairing/PairingPayload.h"
#include "runtime/LocalAddress.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QDate>
#include <QHostAddress>
#include <QLabel>
#include <QLayout>
#include <QMenu>
#include <QPointer>

#include <utility>

namespace {

// Shown in place of the pairing code while loopback is the only address: no phone could use it.
const QString kNoNetwork = QStringLiteral(
    "Aucun réseau local : reliez cet ordinateur au réseau de votre tablette ou téléphone.");
constexpr int kExplanationGrey = 57;

QPointer<Window1> g_instance;

void setTextColor(QWidget* widget, int grey) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, QColor(grey, grey, grey));
    widget->setPalette(palette);
}

QLabel* addLabel(QWidget* parent, const char* name, const QRect& geometry, const QString& text,
                 int grey, bool multiline) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setGeometry(geometry);
    label->setText(text);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
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
    if (!m_options.localAddress)
        m_options.localAddress = &runtime::localLanAddress;
    m_addressWatch =
        new runtime::AddressWatch(m_options.localAddress, m_options.addressCheckInterval, this);
    connect(m_addressWatch, &runtime::AddressWatch::changed, this, &Window1::generate);
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

    addLabel(content, "Label1", QRect(20, 11, 382, 20),
             QStringLiteral("Clef de signature à installer dans votre tablette ou téléphone :"), 0,
             false);
    addLabel(content, "Label2", QRect(20, 43, 754, 54),
             QStringLiteral("Ce QR Code doit être scanné depuis l'application Zorvik de votre "
                            "Smartphone ou tablette qui pourront ainsi télécharger votre clef de "
                            "signature électronique, indispensable à l'authentification de vos "
                            "équipements."),
             kExplanationGrey, true);
    addLabel(content, "version", QRect(20, 316, 262, 20),
             QStringLiteral("Clef de signature à convertir en QR Code : "), 71, false);
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
    if (const App* app = App::instance())
        version()->setText(app->version().shortVersion);

    fkeyfolderpath = keys::keysFolder(m_options.documents());

    delete mServer;
    mServer = new server::HTTPServer(server::KeySource{
                                         [this] { return PopupMenu1()->currentText(); },
                                         [this] { return fkeyfolderpath; },
                                     },
                                     this, m_options.limits);
    mServer->setPort(m_options.port);
    mServer->setMinimumSocketsAvailable(server::HTTPServer::kSpareSockets);
    // Peers on this computer's own subnets are served whatever their address space, so the
    // server follows the interfaces as the pairing code follows the address: read now, and again
    // when the watch sees the address change, never per connection.
    mServer->setLocalInterfaces(runtime::systemInterfaces());
    connect(m_addressWatch, &runtime::AddressWatch::changed, mServer,
            [server = mServer] { server->setLocalInterfaces(runtime::systemInterfaces()); });
    mServer->Listen();

    initmenu();
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
    pairing::BarcodeGenerator encoder;
    if (fkeyfolderpath.isNull() || !mServer)
        return;
    const runtime::FolderItem entry = fkeyfolderpath.child(PopupMenu1()->currentText());
    if (!entry.exists())
        return;

    const QString address = m_addressWatch->read();
    Canvas* canvas = Canvas1();
    if (QHostAddress(address).isLoopback()) {
        canvas->move(pairing::canvasLeft(width(), canvas->width()), canvas->y());
        canvas->setMessage(kNoNetwork);
        return;
    }

    const QString payload = pairing::pairingPayload(address, entry.displayName());
    encoder.setDevicePixelRatio(devicePixelRatioF());
    // A long key name makes a code taller than the canvas, whose bottom would be cut off.
    encoder.setMaximumSize(canvas->size());
    encoder.Symbology(pairing::BarcodeGenerator::kQrCode);
    encoder.Scale(1.5f);
    encoder.BorderWidth(4);
    encoder.Option1(2);
    encoder.Encode(payload, 0, 0, 0);

    const QImage picture = encoder.Picture();
    if (picture.isNull())
        return;
    // Layout pixels, not device pixels; spelled out because Qt 5 has no deviceIndependentSize().
    const int pictureWidth = qRound(picture.width() / picture.devicePixelRatio());
    canvas->move(pairing::canvasLeft(width(), pictureWidth), canvas->y());
    canvas->setBackdrop(picture);
}
