// The application's client of the helper's control API (HTTP/1.1 on
// 127.0.0.1:17891) over WinINet: one session per request, any thread.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "engine/engine_contract.h"
#include "flutter/encodable_value.h"

namespace pelno {

inline constexpr wchar_t kHelperServer[] = L"127.0.0.1";
inline constexpr unsigned long kHelperConnectTimeoutMs = 1500;
inline constexpr unsigned long kHelperSendTimeoutMs = 5000;
inline constexpr unsigned long kHelperReceiveTimeoutMs = 180000;
inline constexpr unsigned long kHelperReadChunk = 4096;

// Receives the reply body piece by piece as it arrives; false stops reading.
using HelperChunkCallback = std::function<bool(std::string_view chunk)>;

// Sends one request and hands the reply body to `onChunk` as it arrives: each read
// takes what is available (at most 4096 bytes) rather than waiting for a full
// buffer, so a streamed line is delivered as soon as it comes. True when the request
// was sent and its reply read, whatever the HTTP status (a read that breaks off
// leaves the reply cut); false when the exchange failed before the request went out.
bool HelperRequest(std::wstring_view verb, std::wstring_view path, std::string_view body,
                   const HelperChunkCallback& onChunk);

// HelperRequest with the reply collected as text.
bool HelperRequestText(std::wstring_view verb, std::wstring_view path, std::string_view body,
                       std::string& reply);

// GET "/status": the helper's non-empty "status" text; false when the helper did
// not answer or its reply has none.
bool QueryHelperStatus(std::string& status);

// POST "/stop": the reply as a status map ("disconnected" / "Windows helper
// disconnected" where it says nothing); false, `statusMap` untouched, without a helper.
bool StopHelperSession(flutter::EncodableValue& statusMap);

// GET "/ping" answered with exactly "pong".
bool HelperAnswersPing();

}  // namespace pelno
