// Key file reads on worker threads, delivered back on the event loop.
#include "server/KeyReads.h"

#include <QThreadPool>

#include <latch>
#include <mutex>
#include <utility>

namespace server {

namespace {

// The workers. Never destroyed: destroying a pool waits for its reads, and a read of a stalled
// share may never end, which would keep the program from quitting. A worker still stuck when the
// program ends goes with the process; its result is dropped (see Mailbox).
// Every worker is started with the pool and kept: a thread started later, when a flood has taken
// every descriptor, cannot make its wake-up descriptor, and that ends the process. Each start
// waits until all have started, so that no worker takes two and every thread is made.
QThreadPool& workers() {
    static QThreadPool* const pool = [] {
        auto* created = new QThreadPool;
        created->setMaxThreadCount(KeyReads::kMaxInFlight);
        created->setExpiryTimeout(-1);
        auto started = std::make_shared<std::latch>(KeyReads::kMaxInFlight);
        for (int worker = 0; worker < KeyReads::kMaxInFlight; ++worker)
            created->start([started] { started->arrive_and_wait(); });
        return created;
    }();
    return *pool;
}

} // namespace

// Where a worker posts its result: to the KeyReads object while it lives, to no one after.
struct KeyReads::Mailbox {
    std::mutex mutex;
    KeyReads* owner = nullptr;
};

runtime::RegularFileRead KeyReads::readKeyFile(const runtime::FolderItem& file) {
    return runtime::readRegularFile(file.nativePath(), kMaxKeyFileBytes);
}

KeyReads::KeyReads(KeyFileReader reader, QObject* parent)
    : QObject(parent)
    , m_reader(std::move(reader))
    , m_mailbox(std::make_shared<Mailbox>()) {
    m_mailbox->owner = this;
    workers(); // started with the server, while descriptors are to be had
}

KeyReads::~KeyReads() {
    // Results posted before this are dropped with the object's pending events.
    const std::lock_guard<std::mutex> lock(m_mailbox->mutex);
    m_mailbox->owner = nullptr;
}

bool KeyReads::read(const runtime::FolderItem& file, QObject* context, Done done) {
    const QString path = file.path();
    const auto pending = m_waiting.find(path);
    if (pending == m_waiting.end() && inFlight() >= kMaxInFlight)
        return false;
    // A stalled read would otherwise keep every connection that asked for it and has gone since.
    connect(context, &QObject::destroyed, this, &KeyReads::forget, Qt::UniqueConnection);
    if (pending != m_waiting.end()) {
        pending->second.push_back({context, std::move(done)});
        return true;
    }
    m_waiting[path].push_back({context, std::move(done)});
    workers().start([reader = m_reader, mailbox = m_mailbox, file, path] {
        runtime::RegularFileRead read = reader(file);
        const std::lock_guard<std::mutex> lock(mailbox->mutex);
        if (KeyReads* owner = mailbox->owner) {
            QMetaObject::invokeMethod(
                owner, [owner, path, read = std::move(read)] { owner->finished(path, read); },
                Qt::QueuedConnection);
        }
    });
    return true;
}

int KeyReads::waiters() const {
    int count = 0;
    for (const auto& [path, waiters] : m_waiting)
        count += static_cast<int>(waiters.size());
    return count;
}

void KeyReads::forget(QObject* context) {
    // The read itself goes on: its file stays in flight until it ends.
    for (auto& [path, waiters] : m_waiting)
        std::erase_if(waiters,
                      [context](const Waiter& waiter) { return waiter.context == context; });
}

void KeyReads::finished(const QString& path, const runtime::RegularFileRead& read) {
    const auto pending = m_waiting.find(path);
    if (pending == m_waiting.end())
        return;
    // Taken out first: a callback may ask for the same file again, which then starts afresh.
    const std::vector<Waiter> waiters = std::move(pending->second);
    m_waiting.erase(pending);
    // Each context is still there: a context that went is no longer among the waiters.
    for (const Waiter& waiter : waiters)
        waiter.done(read);
}

} // namespace server
