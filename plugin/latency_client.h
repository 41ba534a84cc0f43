// The latency test behind "testNodeDelays" and "cancelNodeDelayTests": a helper is
// made to answer, the test goes to its "/urltest", and every result line is handed
// on as it arrives.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "flutter/encodable_value.h"
#include "plugin/helper_transport.h"

namespace pelno {

inline constexpr char kDefaultTestUrl[] = "https://www.gstatic.com/generate_204";

struct LatencyClient {
  HelperTransport& helper;
  // Makes a helper answer "/ping", starting one when none does (LaunchedHelper);
  // false when none can be had.
  std::function<bool()> ensureHelper;
  // The program listening on the port is the helper (HelperListenerCheck): only then
  // is a configuration sent.
  std::function<bool()> listenerIsHelper;
  // Set when the application closes: the stream is read no further.
  const std::atomic<bool>* stop = nullptr;
};

using LatencyResultCallback = std::function<void(const std::string& tag, std::int32_t delayMs)>;

// Runs the test described by the call's arguments; `onResult` gets every result
// line as it arrives. The reply maps each tag received to its last delay; empty
// when there was nothing to test or no helper could be reached.
flutter::EncodableValue RunLatencyTest(const flutter::EncodableMap& arguments,
                                       const LatencyResultCallback& onResult, const LatencyClient& client);

// {"status": "canceled"} once the helper took the cancellation, else "ignored".
flutter::EncodableValue CancelLatencyTest(const flutter::EncodableMap& arguments,
                                          const LatencyClient& client);

// The argument's text when it is a string, else empty.
std::string StringArgument(const flutter::EncodableMap& arguments, const char* key);

}  // namespace pelno
