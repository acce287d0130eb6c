// What the last device did, in French, at most a few times a second.
#include "app/StatusLine.h"

#include "app/Coalescer.h"
#include "server/RequestHandler.h"

namespace {

using Outcome = server::DeviceEvent::Outcome;

QString waiting() {
    return QStringLiteral("En attente de votre téléphone ou tablette…");
}

QString quoted(const QByteArray& keyName) {
    // The key name exactly as the device sent it; nothing in it is decoded.
    return QStringLiteral("« %1 »").arg(QString::fromUtf8(keyName));
}

} // namespace

StatusLine::StatusLine(std::chrono::milliseconds interval, QWidget* parent)
    : QLabel(parent)
    , m_updates(new Coalescer(
          interval, [this](int others) { show(others); }, this)) {
    setText(waiting());
    setAccessibleName(waiting());
    setAccessibleDescription(QStringLiteral("Dernier échange entre un appareil et ce programme"));
}

void StatusLine::report(const server::DeviceEvent& event) {
    m_latest = event;
    m_stoppedBy.reset();
    m_latestAt = QTime::currentTime();
    m_updates->post();
}

void StatusLine::reportStopped(QAbstractSocket::SocketError error) {
    m_stoppedBy = error;
    m_latestAt = QTime::currentTime();
    m_updates->post();
}

// Short enough for the line's width with an IPv4 address and a usual key name; longer ones are
// shortened on screen, never for assistive technology.
QString StatusLine::describeLatest() const {
    const QString at = m_latestAt.toString(QStringLiteral("HH:mm:ss"));
    if (m_stoppedBy)
        return QStringLiteral("%1 – Serveur arrêté (Server Error: %2) : plus aucun appareil "
                              "n'est servi.")
            .arg(at, QString::number(*m_stoppedBy));
    const QString peer = m_latest.peer.toString();
    // One arg() for all: a key name is the device's own text and may hold a "%1".
    switch (m_latest.outcome) {
    case Outcome::KeySent:
        return QStringLiteral("%1 – Clef %2 envoyée à %3.").arg(at, quoted(m_latest.keyName), peer);
    case Outcome::NotSelected:
        // Most likely a code scanned before the selection changed.
        return QStringLiteral("%1 – %2 : %3 n'est pas la clef choisie, rescannez.")
            .arg(at, peer, quoted(m_latest.keyName));
    case Outcome::Refused:
        return QStringLiteral("%1 – %2 refusé : le téléphone doit être sur le même réseau.")
            .arg(at, peer);
    default:
        break;
    }
    // Every other reply is an error the device was told in these very words.
    return QStringLiteral("%1 – %2 : %3 (%4)")
        .arg(at, peer, server::RequestHandler::errorWords(m_latest.outcome),
             QString::number(server::RequestHandler::errorNumber(m_latest.outcome)));
}

void StatusLine::show(int others) {
    QString text = describeLatest();
    if (others == 1)
        text += QStringLiteral(" (et 1 autre)");
    else if (others > 1)
        text += QStringLiteral(" (et %1 autres)").arg(others);
    // Assistive technology reads the whole line, and the change of its name is what a screen
    // reader announces; the eye gets the whole line in a tooltip when it is shortened.
    setAccessibleName(text);
    const QString shown = fontMetrics().elidedText(text, Qt::ElideMiddle, width());
    setText(shown);
    setToolTip(shown == text ? QString() : text);
    emit changed(text);
}
