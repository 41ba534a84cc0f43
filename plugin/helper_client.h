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

// Sends one request and hands the reply body to `onChunk` as it arrives, for at most
// `bound` in all. True when the request was sent and its reply read, whatever the
// HTTP status (a read that breaks off leaves the reply cut); false when the exchange
// failed before a reply.
bool HelperRequest(HelperTransport& helper, std::string_view verb, std::string_view path,
                   std::string_view body, HelperBound bound, const HelperChunkCallback& onChunk);

// HelperRequest with the reply collected as text.
bool HelperRequestText(HelperTransport& helper, std::string_view verb, std::string_view path,
                       std::string_view body, HelperBound bound, std::string& reply);

// GET "/status": the helper's non-empty "status" text; false when the helper did
// not answer within kStatusBound or its reply has none.
inline constexpr HelperBound kStatusBound{3000};
bool QueryHelperStatus(HelperTransport& helper, std::string& status);

// POST "/stop": the reply as a status map ("disconnected" / "Windows helper
// disconnected" where it says nothing); false, `statusMap` untouched, without a
// helper answering within `bound`.
inline constexpr HelperBound kStopBound{3000};
bool StopHelperSession(HelperTransport& helper, flutter::EncodableValue& statusMap, HelperBound bound = kStopBound);

// POST "/start-tun" with the configuration: the reply as a status map ("disconnected" /
// "Invalid Windows helper response" where it says nothing); false, `statusMap`
// untouched, without a reply. Starting a session may take the engine's whole start:
// only each step is bounded.
inline constexpr HelperBound kStartTunBound = kStepBoundsOnly;
bool StartHelperTunSession(HelperTransport& helper, std::string_view config, flutter::EncodableValue& statusMap);

// GET "/ping" answered with exactly "pong" within kPingBound.
inline constexpr HelperBound kPingBound{1000};
bool HelperAnswersPing(HelperTransport& helper);

}  // namespace pelno
