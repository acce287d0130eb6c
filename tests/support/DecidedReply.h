// A request's reply as the key server makes it: RequestHandler::decide(), then, for a key, its
// file read and put in the reply by ReplyText. For the tests and fuzz targets of the decision.
#pragma once

#include "server/KeyReads.h"
#include "server/ReplyText.h"
#include "server/RequestHandler.h"

#include <optional>

/// The complete reply to `request`; nothing when it is not a GET.
inline std::optional<QByteArray> decidedReply(const server::RequestHandler& handler,
                                              const QByteArray& request) {
    using Kind = server::RequestHandler::Decision::Kind;
    const server::RequestHandler::Decision decision = handler.decide(request);
    if (decision.kind == Kind::None)
        return std::nullopt;
    if (decision.kind == Kind::Reply)
        return decision.reply;
    return server::ReplyText::keyReply(decision.keyName,
                                       server::KeyReads::readKeyFile(decision.file));
}
