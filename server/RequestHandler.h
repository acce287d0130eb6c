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

/// Reads a key file whole, as runtime::readRegularFile() does with the largest key file size.
/// Runs on a worker thread, so it must be safe there; may take as long as the file takes.
using KeyFileReader = std::function<runtime::RegularFileRead(const runtime::FolderItem& file)>;

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

    /// `reader` reads the key file; empty: the file system's own, runtime::readRegularFile().
    /// `alert` sounds the computer's alert; empty: silence.
    explicit RequestHandler(KeySource source, KeyFileReader reader = {},
                            std::function<void()> alert = {});

    /// Decides on `data`, the bytes of one request as they arrived, with every check up to
    /// the selection (-2, -3, -4) and the alert that every GET sounds once. The key file is
    /// the selected entry's own, even when the request differs from it in letter case.
    Decision decide(const QByteArray& data) const;

    /// Reads `file` through the reader; may block as long as the file does. Any thread.
    runtime::RegularFileRead readKeyFile(const runtime::FolderItem& file) const;

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
    KeyFileReader m_reader;
    std::function<void()> m_alert;
};

} // namespace server
