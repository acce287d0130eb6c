// What the last device did, in French, at most a few times a second.
#include "app/StatusLine.h"

#include "app/StatusText.h"
#include "server/HTTPServer.h"
#include "server/ReplyText.h"

#include <QAccessibleWidget>
#include <QTextDocument>

namespace {

using Outcome = server::DeviceEvent::Outcome;

QString waiting() {
    return QStringLiteral("En attente de votre téléphone ou tablette…");
}

// Assistive technology meets the line as a status bar, whose changes a screen reader may speak
// without the focus moving to it.
QAccessibleInterface* accessibleStatusLine(const QString& className, QObject* object) {
    auto* line = qobject_cast<StatusLine*>(object);
    if (!line || className != QLatin1String("StatusLine"))
        return nullptr;
    return new QAccessibleWidget(line, QAccessible::StatusBar);
}

// Why no device can be served, in the user's terms, without its full stop; the message box gives
// the error's number.
QString stopReason(QAbstractSocket::SocketError error) {
    const QString port = QString::number(server::HTTPServer::kPort);
    switch (error) {
    case QAbstractSocket::AddressInUseError:
        return QStringLiteral("port %1 déjà pris (autre copie ouverte\u202F?)").arg(port);
    case QAbstractSocket::SocketAccessError:
        return QStringLiteral("Windows refuse l'accès au port %1").arg(port);
    default:
        return QStringLiteral("erreur réseau n°\u00A0%1").arg(QString::number(error));
    }
}

} // namespace

StatusLine::StatusLine(std::chrono::milliseconds interval, runtime::Clock& clock, QWidget* parent)
    : QLabel(parent)
    , m_clock(clock)
    , m_updates(
          interval, [this](int others) { show(others); }, clock) {
    static const bool accessible = [] {
        QAccessible::installFactory(&accessibleStatusLine);
        return true;
    }();
    Q_UNUSED(accessible)
    // The line shows what devices send: never markup.
    setTextFormat(Qt::PlainText);
    setText(waiting());
    setAccessibleName(waiting());
    setAccessibleDescription(QStringLiteral("Dernier échange entre un appareil et ce programme"));
}

void StatusLine::report(const server::DeviceEvent& event) {
    m_latest = event;
    m_stoppedBy.reset();
    m_latestAt = m_clock.localNow().time();
    m_updates.post();
}

void StatusLine::reportStopped(QAbstractSocket::SocketError error) {
    m_stoppedBy = error;
    m_latestAt = m_clock.localNow().time();
    m_updates.post();
}

void StatusLine::reportPublicNetwork(bool isPublic) {
    if (isPublic)
        display(StatusText().words(QStringLiteral(
            "Réseau public\u00A0: Windows bloque le téléphone. Paramètres > Réseau > Privé.")));
    else if (m_showsHint)
        display(StatusText().words(waiting()));
    m_showsHint = isPublic;
}

// Each line fits the line's width whole with an IPv4 address and a key name of up to 20
// characters; longer ones give up pieces on screen, never for assistive technology. A count goes
// inside the sentence, before its closing mark.
StatusText StatusLine::describeLatest(int others) const {
    StatusText line;
    line.stamp(m_latestAt);
    if (m_stoppedBy)
        return line.words(QStringLiteral("Aucun appareil servi\u00A0: ") + stopReason(*m_stoppedBy))
            .count(others)
            .words(QStringLiteral("."));
    switch (m_latest.outcome) {
    case Outcome::KeySent:
        // The key name exactly as the device sent it; nothing in it is decoded.
        return line.words(QStringLiteral("Clef "))
            .keyName(QString::fromUtf8(m_latest.keyName))
            .words(QStringLiteral(" envoyée à "))
            .address(m_latest.peer)
            .count(others)
            .words(QStringLiteral("."));
    case Outcome::NotSelected:
        // With a key on screen, most likely a code scanned before the selection changed.
        return line.address(m_latest.peer)
            .words(m_keyChosen
                       ? QStringLiteral(
                             "\u00A0: pas la clef choisie\u202F; scannez de nouveau le code")
                       : QStringLiteral("\u00A0: aucune clef n'est choisie dans le programme"))
            .count(others)
            .words(QStringLiteral("."));
    case Outcome::Refused:
        return line.words(QStringLiteral("Appareil "))
            .address(m_latest.peer)
            .words(QStringLiteral(" refusé\u00A0: il doit être sur le réseau de ce PC"))
            .count(others)
            .words(QStringLiteral("."));
    default:
        break;
    }
    // Every other reply is an error the device was told in these very words, set here as French
    // is printed: the reply itself keeps its plain space for the phone.
    // (The reply's number would make the longest of them too wide for the line.)
    QString words = server::ReplyText::errorWords(m_latest.outcome);
    QString mark;
    if (words.endsWith(QLatin1String(" !"))) {
        words.chop(2);
        mark = QStringLiteral("\u202F!");
    }
    return line.address(m_latest.peer)
        .words(QStringLiteral("\u00A0: ") + words)
        .count(others)
        .words(mark);
}

void StatusLine::show(int others) {
    m_showsHint = false;
    display(describeLatest(others));
}

void StatusLine::display(const StatusText& line) {
    const QString text = line.whole();
    // Assistive technology reads the whole line, and the change of its name is what a screen
    // reader announces; the eye gets the whole line in a tooltip when it is shortened.
    setAccessibleName(text);
    const QString shown = line.fitted(fontMetrics(), width());
    setText(shown);
    // A tooltip takes anything that looks like markup as markup: this one is plain text made
    // into markup that shows it as it is.
    setToolTip(shown == text ? QString() : Qt::convertFromPlainText(text));
#if QT_VERSION >= QT_VERSION_CHECK(6, 8, 0)
    // Spoken wherever the focus is, by readers that take announcements.
    QAccessibleAnnouncementEvent announcement(this, text);
    QAccessible::updateAccessibility(&announcement);
#endif
    emit changed(text);
}
