// The whole answer to one arrival of request bytes: which key is asked for, whether it may be
// handed out, and the tagged-text reply the phone app reads.
#pragma once

#include "runtime/FolderItem.h"

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

    explicit RequestHandler(KeySource source);

    /// The complete reply (status line, headers, body) to `data`, the bytes of one request as
    /// they arrived; nullopt when the method of its first line is not GET, which gets no reply.
    /// Every GET sounds the alert once, whatever its outcome.
    std::optional<QByteArray> handle(const QByteArray& data) const;

    /// The status line and headers for `body`, followed by it.
    static QByteArray reply(const QByteArray& body);

private:
    QByteArray answer(const QByteArray& path) const;

    KeySource m_source;
};

} // namespace server
