// The whole answer to one arrival of request bytes: which key is asked for, whether it may be
// handed out, and the tagged-text reply the phone app reads.
#pragma once

#include "runtime/FolderItem.h"
#include "runtime/RegularFile.h"
#include "server/DeviceEvent.h"

#include <QByteArray>
#include <QString>

#include <functional>
#include <optional>

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
    /// Key files larger than this many bytes are refused unread: no accepted key (fewer than
    /// 5000 characters) can take more, whatever its encoding.
    static constexpr qint64 kMaxKeyFileBytes = 20000;

    /// What one arrival of request bytes calls for, decided without touching the key file.
    struct Decision {
        enum class Kind {
            /// Not a GET: no reply at all.
            None,
            /// `reply` is the whole answer.
            Reply,
            /// The answer comes from reading `file`: keyReply(`keyName`, what was read).
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

    /// Reads the key `file` from the file system: only a regular file, and none larger than
    /// kMaxKeyFileBytes. May block as long as the file does. Any thread.
    static runtime::RegularFileRead readKeyFile(const runtime::FolderItem& file);

    /// The complete reply that hands out the key `keyName` (named as requested) from `read`, or
    /// the error its outcome calls for (-43, -49, -33, -1). Any thread.
    static QByteArray keyReply(const QByteArray& keyName, const runtime::RegularFileRead& read);

    /// What keyReply() tells the device for `read`. Any thread.
    static DeviceEvent::Outcome keyOutcome(const runtime::RegularFileRead& read);

    /// The French words of the error reply for `outcome`, as the device reads them between
    /// <ERRH> and </ERRH>, and its number; empty and 0 for the key itself and for a refusal.
    static QString errorWords(DeviceEvent::Outcome outcome);
    static int errorNumber(DeviceEvent::Outcome outcome);

    /// decide(), then the key file read here and now: the complete reply (status line, headers,
    /// body) to `data`; nullopt when it is not a GET.
    std::optional<QByteArray> handle(const QByteArray& data) const;

    /// The status line and headers for `body`, followed by it.
    static QByteArray reply(const QByteArray& body);

private:
    KeySource m_source;
};

} // namespace server
