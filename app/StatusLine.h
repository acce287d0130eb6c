// The line at the bottom of the window that says, in French, what the last device did with the
// key server. Nothing it shows is kept: it is not a log.
#pragma once

#include "app/Coalescer.h"
#include "server/DeviceEvent.h"

#include <QAbstractSocket>
#include <QLabel>
#include <QTime>

#include <chrono>
#include <optional>

class StatusText;

class StatusLine : public QLabel {
    Q_OBJECT

public:
    /// Says that the program is waiting for the phone. The line changes at most once per
    /// `interval` (on `clock`), so that a flood cannot drive the window; its times are read on
    /// `clock` too.
    explicit StatusLine(std::chrono::milliseconds interval,
                        runtime::Clock& clock = runtime::Clock::system(),
                        QWidget* parent = nullptr);

    /// What the key server did for a device: shown at once after a quiet spell, otherwise with
    /// the next change, as the last event of its burst with how many others came with it.
    void report(const server::DeviceEvent& event);

    /// The key server stopped listening after `error`; shown as report() shows an event.
    void reportStopped(QAbstractSocket::SocketError error);

    /// Whether the network of the advertised address is one Windows classes as public, where
    /// its firewall blocks the phone. When it is, says so at once, and how to make it private,
    /// until the next event replaces it; when it no longer is, a hint still shown gives way to
    /// the waiting line.
    void reportPublicNetwork(bool isPublic);

    /// Whether the window lists a key to choose. A request that reaches an empty list is told
    /// that no key is chosen, since no code is on screen to scan again. True until said.
    void setKeyChosen(bool chosen) { m_keyChosen = chosen; }

    /// The whole of what the line says, as assistive technology reads it; the text shown is
    /// shortened to the line's width when it does not fit.
    QString fullText() const { return accessibleName(); }

signals:
    /// The line now says `text` (in full): at once after a quiet spell, then at most once per
    /// interval.
    void changed(const QString& text);

private:
    void show(int others);
    void display(const StatusText& line);
    StatusText describeLatest(int others) const;

    runtime::Clock& m_clock;
    Coalescer m_updates;
    server::DeviceEvent m_latest;
    std::optional<QAbstractSocket::SocketError> m_stoppedBy;
    QTime m_latestAt;
    bool m_keyChosen = true;
    /// The line shows the public-network hint.
    bool m_showsHint = false;
};
