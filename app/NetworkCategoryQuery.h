// Asks the system, off the GUI thread, which category it gives a network: the answer can take a
// moment, and the window must not freeze meanwhile.
#pragma once

#include "runtime/NetworkCategory.h"

#include <QObject>
#include <QThreadPool>

#include <functional>

class NetworkCategoryQuery : public QObject {
    Q_OBJECT

public:
    /// `query` gives the category of the network on an interface (by system index); it runs on a
    /// worker thread of this object's own, started here and kept for the object's life.
    explicit NetworkCategoryQuery(std::function<runtime::NetworkCategory(int)> query,
                                  QObject* parent = nullptr);
    /// Waits for a query under way.
    ~NetworkCategoryQuery() override;

    /// Asks about the network on interface `interfaceIndex`; answered() follows through the
    /// event loop. An ask overtaken by a later one is never answered.
    void ask(int interfaceIndex);

signals:
    void answered(runtime::NetworkCategory category);

private:
    std::function<runtime::NetworkCategory(int)> m_query;
    QThreadPool m_worker;
    /// Asks so far; an answer to any but the latest is stale.
    quint64 m_asked = 0;
};
