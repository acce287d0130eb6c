// Request checks in the order the phone app expects.
#include "server/RequestHandler.h"

#include "runtime/QtSize.h"
#include "runtime/Text.h"
#include "server/ReplyText.h"

#include <QString>

#include <utility>

namespace server {

using Outcome = DeviceEvent::Outcome;

RequestHandler::RequestHandler(KeySource source)
    : m_source(std::move(source)) {}

RequestHandler::Decision RequestHandler::decide(const QByteArray& data) const {
    const qsizetype cr = data.indexOf('\r');
    const QByteArray firstLine = cr < 0 ? data : data.left(runtime::qtSize(cr));
    const QByteArray method = runtime::NthField(firstLine, ' ', 1);
    if (method.compare("GET", Qt::CaseInsensitive) != 0)
        return {};

    const auto answer = [](Outcome outcome, const QByteArray& keyName = {}) {
        return Decision{
            Decision::Kind::Reply, outcome, ReplyText::errorReply(outcome), keyName, {}};
    };
    const QByteArray path = runtime::NthField(firstLine, ' ', 2);
    if (!path.startsWith('/'))
        return answer(Outcome::NoPath);
    const QByteArray keyName = path.mid(1);
    if (keyName.isEmpty())
        return answer(Outcome::NoKey);
    // Nothing in the name is decoded: the phone sends the row text as it stands.
    const QString selected = m_source.selectedKey();
    if (!runtime::textEquals(QString::fromUtf8(keyName), selected))
        return answer(Outcome::NotSelected, keyName);

    // The selected entry's own file, whatever the request's letter case: a case-sensitive file
    // system then answers like the case-insensitive one the phone app was written for, and a
    // file whose name differs from the selection only in case is never handed out.
    const runtime::FolderItem file = m_source.keyFolder().child(selected);
    if (file.isNull())
        return answer(Outcome::NotFound, keyName);
    return {Decision::Kind::ReadKey, Outcome::KeySent, {}, keyName, file};
}

} // namespace server
