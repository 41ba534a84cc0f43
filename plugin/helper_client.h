// The application's client of the helper's control API, over a transport: one
// request at a time, from any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "engine/engine_contract.h"
#include "flutter/encodable_value.h"
#include "plugin/helper_transport.h"

namespace pelno {

// Receives the reply body piece by piece as it arrives; false stops reading.
using HelperChunkCallback = std::function<bool(std::string_view chunk)>;

// Sends one request and hands the reply body to `onChunk` as it arrives. True when
// the request was sent and its reply read, whatever the HTTP status (a read that
// breaks off leaves the reply cut); false when the exchange failed before a reply.
bool HelperRequest(HelperTransport& helper, std::string_view verb, std::string_view path,
                   std::string_view body, const HelperChunkCallback& onChunk);

// HelperRequest with the reply collected as text.
bool HelperRequestText(HelperTransport& helper, std::string_view verb, std::string_view path,
                       std::string_view body, std::string& reply);

// GET "/status": the helper's non-empty "status" text; false when the helper did
// not answer or its reply has none.
bool QueryHelperStatus(HelperTransport& helper, std::string& status);

// POST "/stop": the reply as a status map ("disconnected" / "Windows helper
// disconnected" where it says nothing); false, `statusMap` untouched, without a helper.
bool StopHelperSession(HelperTransport& helper, flutter::EncodableValue& statusMap);

// GET "/ping" answered with exactly "pong".
bool HelperAnswersPing(HelperTransport& helper);

}  // namespace pelno
