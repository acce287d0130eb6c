// The network category, asked on a worker and answered on the GUI thread.
#include "app/NetworkCategoryQuery.h"

#include <utility>

NetworkCategoryQuery::NetworkCategoryQuery(std::function<runtime::NetworkCategory(int)> query,
                                           QObject* parent)
    : QObject(parent)
    , m_query(std::move(query)) {
    // One thread: asks are answered in order, and a system slow to answer holds up nothing else.
    m_worker.setMaxThreadCount(1);
    // Started now and kept: a thread started later, when a flood has taken every descriptor,
    // cannot make its wake-up descriptor, and that ends the process.
    m_worker.setExpiryTimeout(-1);
    m_worker.start([] {});
}

NetworkCategoryQuery::~NetworkCategoryQuery() {
    m_worker.clear();
    // No answer can then be posted to this object once it is gone.
    m_worker.waitForDone();
}

void NetworkCategoryQuery::ask(int interfaceIndex) {
    const quint64 asked = ++m_asked;
    // An ask still waiting for the worker is stale already.
    m_worker.clear();
    m_worker.start([this, asked, interfaceIndex] {
        const runtime::NetworkCategory category = m_query(interfaceIndex);
        QMetaObject::invokeMethod(
            this,
            [this, asked, category] {
                if (asked == m_asked)
                    emit answered(category);
            },
            Qt::QueuedConnection);
    });
}
