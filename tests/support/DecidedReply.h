// A request's reply as the key server makes it, for the tests and fuzz targets of the decision.
#pragma once

#include "server/KeyReads.h"
#include "server/ReplyText.h"
#include "server/RequestHandler.h"

#include <optional>

/// RequestHandler::decide(), then a key's file read and put in its reply by ReplyText; nothing
/// for a request that is not a GET.
inline std::optional<QByteArray> decidedReply(const server::RequestHandler& handler,
                                              const QByteArray& request) {
    const server::RequestHandler::Decision decision = handler.decide(request);
    if (decision.kind != server::RequestHandler::Decision::Kind::ReadKey)
        return decision.kind == server::RequestHandler::Decision::Kind::None
                   ? std::nullopt
                   : std::optional<QByteArray>(decision.reply);
    return server::ReplyText::keyReply(decision.keyName,
                                       server::KeyReads::readKeyFile(decision.file));
}
