// The key file reads in flight: each on a worker thread, so that a slow file (a stalled network
// share, a cloud placeholder being fetched) delays only the replies that wait for it.
#pragma once

#include "runtime/FolderItem.h"
#include "runtime/RegularFile.h"

#include <QObject>
#include <QString>

#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace server {

/// Reads a key file whole, as KeyReads::readKeyFile() does. Runs on a worker thread, so it
/// must be safe there; may take as long as the file takes.
using KeyFileReader = std::function<runtime::RegularFileRead(const runtime::FolderItem& file)>;

class KeyReads : public QObject {
    Q_OBJECT

public:
    /// Files read at once; the product only ever reads the selected key, so more than one at a
    /// time means the user changed the selection while a read stalled.
    static constexpr int kMaxInFlight = 4;

    /// Key files larger than this many bytes are refused unread: no accepted key (fewer than
    /// 5000 characters) can take more, whatever its encoding.
    static constexpr qint64 kMaxKeyFileBytes = 20000;

    using Done = std::function<void(const runtime::RegularFileRead& read)>;

    /// Reads the key `file` from the file system: only a regular file, and none larger than
    /// kMaxKeyFileBytes. May block as long as the file does. Any thread.
    static runtime::RegularFileRead readKeyFile(const runtime::FolderItem& file);

    /// Reads through `reader`, which must not be empty.
    explicit KeyReads(KeyFileReader reader, QObject* parent = nullptr);
    ~KeyReads() override;

    /// Reads `file` on a worker thread and, once the read is over, calls `done` on this object's
    /// thread with what was read, unless `context` is gone by then. While a read of the same
    /// file is in flight, it is shared rather than started again, however long it takes. False,
    /// with nothing started, when kMaxInFlight other files are being read already.
    bool read(const runtime::FolderItem& file, QObject* context, Done done);

    /// Files being read now.
    int inFlight() const { return static_cast<int>(m_waiting.size()); }

    /// Callers waiting for the reads in flight; one whose context is gone no longer counts.
    int waiters() const;

private:
    struct Mailbox;
    struct Waiter {
        QObject* context;
        Done done;
    };

    void forget(QObject* context);
    void finished(const QString& path, const runtime::RegularFileRead& read);

    KeyFileReader m_reader;
    std::shared_ptr<Mailbox> m_mailbox;
    /// By file path: who waits for the read in flight.
    std::map<QString, std::vector<Waiter>> m_waiting;
};

} // namespace server
