#include "urltest/url_test_stream.h"

#include <algorithm>
#include <atomic>
#include <system_error>
#include <vector>

#include "base/json_escape.h"
#include "base/mutex.h"
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
  const UrlTestRegistry::RunId id;
  std::atomic<std::uint64_t> nextNode{0};
  Mutex sendLock;
  bool sendFailed GUARDED_BY(sendLock) = false;  // nothing goes out after it
  std::atomic<bool> abandoned{false};  // the failed send stopped the run
};

// A requestId as the log shows it: escaped like every reply of the helper, so that a
// caller's line breaks cannot forge lines of their own in the journal.
std::string LoggedId(std::string_view requestId) { return EscapeJsonString(requestId); }

void SendEmptyReply(ResponseChannel& channel) {
  channel.Send(FormatHttpResponse(OkResponse(kNdjsonContentType, std::string())));
}

// Sends `bytes` unless an earlier send failed. A send that fails (the client has
// gone, or took nothing for the connection's send time-out) abandons the run, unless
// a cancel stopped it first.
bool SendOnStream(UrlTestRun& run, std::string_view bytes) {
  {
    MutexLock lock(run.sendLock);
    if (run.sendFailed) return false;
    if (run.channel.Send(bytes)) return true;
    run.sendFailed = true;
  }
  if (run.registry.AbandonRun(run.id)) run.abandoned = true;
  return false;
}

// Takes nodes until none is left or the run is stopping, each once one of the
// helper's engine places is free; each result goes out as soon as it is known.
// Nothing is written for a node whose run was stopped meanwhile.
void UrlTestWorker(UrlTestRun& run) {
  const std::vector<std::string>& tags = run.request.nodeTags;
  while (!run.registry.IsRunStopping(run.id)) {
    const std::uint64_t index = run.nextNode.fetch_add(1);
    if (index >= tags.size()) return;
    if (!run.registry.TakeEnginePlace(run.id)) return;
    NodeMeasurement record;
    run.platform.MeasureNode(run.configPath, run.id, tags[index], run.request.testUrl, record);
    run.registry.GiveEnginePlace();
    if (run.registry.IsRunStopping(run.id)) return;
    if (!SendOnStream(run, MakeLatencyResultLine(tags[index], record.delayMs))) return;
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

  const std::string nodes = std::to_string(request.nodeTags.size());
  UrlTestRun run{request, configPath, channel, platform, registry,
                 registry.BeginRun(request.requestId, channel), {0}, {}, false, {false}};
  journal.AppendLog("URLTest stream started for " + nodes + " nodes, requestId=" + LoggedId(request.requestId));
  if (SendOnStream(run, FormatStreamHead(kNdjsonContentType))) MeasureAllNodes(run, journal);
  platform.DeleteConfig(configPath);
  registry.EndRun(run.id);
  if (run.abandoned) {
    journal.AppendLog("URLTest stream abandoned for " + nodes + " nodes, requestId=" +
                      LoggedId(request.requestId) +
                      ": a result could not be sent (the client stopped reading or has gone)");
  } else {
    journal.AppendLog("URLTest stream completed for " + nodes + " nodes");
  }
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
