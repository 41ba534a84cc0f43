// POST /urltest and POST /cancel-urltest: a prepared run measures every node with
// up to 12 workers, each engine in one of the helper's places, and streams one NDJSON
// line per node as it finishes. A run whose client takes no more results is
// abandoned; a canceled one stops.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

#include "urltest/url_test_registry.h"
#include "urltest/url_test_request.h"

namespace pelno {

class LogJournal;
class ResponseChannel;

inline constexpr std::size_t kMaxUrlTestWorkers = 12;

// What one measurement found. Only delayMs is sent; the rest is for diagnosis.
struct NodeMeasurement {
  std::int32_t delayMs = 0;  // 0: failed
  std::uint32_t exitCode = 1;
  std::uint32_t waitResult = 0xFFFFFFFF;  // 0 ended in time, 258 time-out, 128 canceled first
  std::uint64_t elapsedMs = 0;
  std::uint32_t lastError = 0;
  std::string note;
};

// What a run needs of the system, a seam so that the run itself can be tested
// without Windows.
class UrlTestPlatform {
 public:
  virtual ~UrlTestPlatform() = default;
  virtual bool CreateDataDirectory() = 0;
  // MakeUrlTestConfigPath: a new run's file, taking the next run number.
  virtual std::wstring MakeConfigPath() = 0;
  // WriteUrlTestConfig; `error` is written on failure only.
  virtual bool WriteConfig(const std::wstring& path, std::string_view config, std::string& error) = 0;
  virtual void DeleteConfig(const std::wstring& path) = 0;
  // MeasureNode: one engine fetch of `testUrl` through `nodeTag`, for the run `run`
  // of the registry.
  virtual bool MeasureNode(const std::wstring& configPath, UrlTestRegistry::RunId run,
                           const std::string& nodeTag, const std::string& testUrl,
                           NodeMeasurement& record) = 0;
  // Starts `work` on a new thread; throws std::system_error when none can be created.
  virtual std::thread StartWorker(std::function<void()> work) = 0;
};

// {"nodeTag":"<tag, escaped like every reply of the helper>","delayMs":<n>} and LF.
std::string MakeLatencyResultLine(std::string_view nodeTag, std::int32_t delayMs);

// "sing-box-urltest-<pid>-<run>.json"
std::wstring UrlTestConfigFileName(std::uint32_t processId, std::uint64_t runNumber);

// The POST /urltest handler. Writes its own response on `channel`: the empty reply
// for an unusable request, else the stream. Returns when every worker has ended, at
// the latest soon after a send failed or the run was canceled.
void RunUrlTestStream(std::string_view body, ResponseChannel& channel, UrlTestPlatform& platform,
                      UrlTestRegistry& registry, LogJournal& journal);

// The POST /cancel-urltest handler: the whole body is the requestId.
std::string HandleCancelUrlTest(std::string_view body, UrlTestRegistry& registry,
                                LogJournal& journal);

}  // namespace pelno
