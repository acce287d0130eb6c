// What one arrival of request bytes calls for: which key is asked for, and whether it may be
// handed out.
#pragma once

#include "runtime/FolderItem.h"
#include "server/DeviceEvent.h"

#include <QByteArray>
#include <QString>

#include <functional>

namespace server {

/// What the handler reads of the main window, at the moment it handles a request.
struct KeySource {
    /// The text of the selected key-list row; "" while nothing is selected.
    std::function<QString()> selectedKey;
    /// The keys folder; unset while it was not found.
    std::function<runtime::FolderItem()> keyFolder;
};

class RequestHandler {
public:
    /// What one arrival of request bytes calls for, decided without touching the key file.
    struct Decision {
        enum class Kind {
            /// Not a GET: no reply at all.
            None,
            /// `reply` is the whole answer.
            Reply,
            /// The answer comes from reading `file`: ReplyText::keyReply(`keyName`, what was read).
            ReadKey,
        };
        Kind kind = Kind::None;
        /// What `reply` tells the device; KeySent while the key file is still to be read.
        DeviceEvent::Outcome outcome = DeviceEvent::Outcome::KeySent;
        QByteArray reply;
        /// The key name as asked for; empty when the request named none.
        QByteArray keyName;
        runtime::FolderItem file;
    };

    explicit RequestHandler(KeySource source);

    /// Decides on `data`, the bytes of one request as they arrived, with every check up to
    /// the selection (-2, -3, -4); reads the selection, and nothing else. The key file is the
    /// selected entry's own, even when the request differs from it in letter case.
    Decision decide(const QByteArray& data) const;

private:
    KeySource m_source;
};

} // namespace server
