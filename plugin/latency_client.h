// The latency test behind "testNodeDelays" and "cancelNodeDelayTests": a helper is
// made to answer (started as a hidden plain process when none does), the test goes
// to its "/urltest", and every result line is handed on as it arrives.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "engine/data_locations.h"
#include "flutter/encodable_value.h"
#include "plugin/launched_helper_slot.h"

namespace pelno {

inline constexpr char kDefaultTestUrl[] = "https://www.gstatic.com/generate_204";
inline constexpr int kHelperStartRounds = 30;
inline constexpr DWORD kHelperStartPollMs = 100;

struct LatencyClient {
  LaunchedHelperSlot& launchedHelper;
  LocationPlatform& locations;
  // "/ping" tries after starting a helper, 100 ms apart.
  int startRounds = kHelperStartRounds;
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

// A helper answers "/ping", if need be after starting the helper program hidden
// with the user's rights (kept in the launched-helper slot).
bool EnsureHelperProcess(const LatencyClient& client);

// The argument's text when it is a string, else empty.
std::string StringArgument(const flutter::EncodableMap& arguments, const char* key);

}  // namespace pelno
