#include "urltest/url_test_stream.h"

#include <algorithm>
#include <atomic>
#include <mutex>
#include <system_error>
#include <vector>

#include "base/json_escape.h"
#include "engine/config_file_check.h"
#include "engine/engine_contract.h"
#include "server/http_response.h"
#include "server/log_journal.h"
#include "server/response_channel.h"
#include "urltest/url_test_registry.h"

namespace pelno {
namespace {

// One run's state, owned by the handler thread and shared with its workers.
struct UrlTestRun {
  const UrlTestRequest& request;
  const std::wstring& configPath;
  ResponseChannel& channel;
  UrlTestPlatform& platform;
  UrlTestRegistry& registry;
  std::atomic<std::uint64_t> nextNode{0};
  std::mutex sendLock;
};

// A requestId as the log shows it: escaped like every reply of the helper, so that a
// caller's line breaks cannot forge lines of their own in the journal.
std::string LoggedId(std::string_view requestId) { return EscapeJsonString(requestId); }

void SendEmptyReply(ResponseChannel& channel) {
  channel.Send(FormatHttpResponse(OkResponse(kNdjsonContentType, std::string())));
}

// Takes nodes until none is left or the run is canceled; each result goes out as
// soon as it is known. Nothing is written for a node whose run was canceled meanwhile.
void UrlTestWorker(UrlTestRun& run) {
  const std::string& requestId = run.request.requestId;
  const std::vector<std::string>& tags = run.request.nodeTags;
  while (!run.registry.IsRunCanceled(requestId)) {
    const std::uint64_t index = run.nextNode.fetch_add(1);
    if (index >= tags.size()) return;
    NodeMeasurement record;
    run.platform.MeasureNode(run.configPath, run.request, tags[index], record);
    if (run.registry.IsRunCanceled(requestId)) return;
    const std::string line = MakeLatencyResultLine(tags[index], record.delayMs);
    std::lock_guard lock(run.sendLock);
    run.channel.Send(line);  // a client that has gone away does not stop the run
  }
}

// Starts min(N, 12) workers and joins them in order. Workers that cannot be started
// are done without: the others take their nodes, and with none the handler thread
// measures alone.
void MeasureAllNodes(UrlTestRun& run, LogJournal& journal) {
  const std::size_t wanted = std::min(run.request.nodeTags.size(), kMaxUrlTestWorkers);
  std::vector<std::thread> workers;
  workers.reserve(wanted);
  for (std::size_t i = 0; i < wanted; ++i) {
    try {
      workers.push_back(run.platform.StartWorker([&run] { UrlTestWorker(run); }));
    } catch (const std::system_error& error) {
      journal.AppendLog("URLTest started " + std::to_string(i) + " of " + std::to_string(wanted) +
                        " workers (" + error.what() + ")");
      break;
    }
  }
  if (workers.empty()) UrlTestWorker(run);
  for (std::thread& worker : workers) worker.join();
}

}  // namespace

std::string MakeLatencyResultLine(std::string_view nodeTag, std::int32_t delayMs) {
  return "{\"nodeTag\":\"" + EscapeJsonString(nodeTag) + "\",\"delayMs\":" +
         std::to_string(delayMs) + "}\n";
}

std::wstring UrlTestConfigFileName(std::uint32_t processId, std::uint64_t runNumber) {
  return L"sing-box-urltest-" + std::to_wstring(processId) + L"-" + std::to_wstring(runNumber) +
         L".json";
}

void RunUrlTestStream(std::string_view body, ResponseChannel& channel, UrlTestPlatform& platform,
                      UrlTestRegistry& registry, LogJournal& journal) {
  UrlTestRequest request;
  if (!ParseUrlTestRequest(body, request) || request.config.empty() || request.nodeTags.empty()) {
    SendEmptyReply(channel);
    return;
  }
  // The engines run with the helper's rights: a configuration naming files outside
  // the data directory is refused before anything is written or started.
  if (const auto refusal = CheckEngineConfiguration(request.config)) {
    journal.AppendLog("URLTest " + *refusal);
    SendEmptyReply(channel);
    return;
  }
  if (!platform.CreateDataDirectory()) {
    journal.AppendLog("URLTest failed to create runtime directory");
    SendEmptyReply(channel);
    return;
  }
  const std::wstring configPath = platform.MakeConfigPath();
  std::string error;
  if (!platform.WriteConfig(configPath, request.config, error)) {
    journal.AppendLog("URLTest failed to write config: " + error);
    SendEmptyReply(channel);
    return;
  }

  registry.ResetRunMarks(request.requestId);
  const std::string nodes = std::to_string(request.nodeTags.size());
  journal.AppendLog("URLTest stream started for " + nodes + " nodes, requestId=" + LoggedId(request.requestId));
  channel.Send(FormatStreamHead(kNdjsonContentType));
  UrlTestRun run{request, configPath, channel, platform, registry, {0}, {}};
  MeasureAllNodes(run, journal);
  platform.DeleteConfig(configPath);
  registry.EndRun(request.requestId);
  journal.AppendLog("URLTest stream completed for " + nodes + " nodes");
}

std::string HandleCancelUrlTest(std::string_view body, UrlTestRegistry& registry,
                                LogJournal& journal) {
  if (body.empty()) return "{\"status\":\"ignored\"}";
  const std::string requestId(body);
  const std::size_t terminated = registry.CancelRun(requestId);
  journal.AppendLog("URLTest cancel requested: " + LoggedId(requestId) +
                    ", processes=" + std::to_string(terminated));
  return "{\"status\":\"canceled\"}";
}

}  // namespace pelno
