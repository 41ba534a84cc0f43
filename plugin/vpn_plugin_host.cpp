#include "plugin/vpn_plugin_host.h"

#include "flutter/event_stream_handler_functions.h"
#include "flutter/standard_method_codec.h"
#include "plugin/latency_client.h"
#include "plugin/traffic_client.h"
#include "plugin/traffic_snapshot_map.h"

namespace pelno {

using flutter::EncodableMap;
using flutter::EncodableValue;

namespace {

using StreamError = flutter::StreamHandlerError<EncodableValue>;

const EncodableMap* MapArguments(const VpnPluginHost::MethodCall& call) {
  const EncodableValue* arguments = call.arguments();
  return arguments != nullptr ? std::get_if<EncodableMap>(arguments) : nullptr;
}

}  // namespace

VpnPluginHost::VpnPluginHost(flutter::BinaryMessenger* messenger, const PluginEnvironment& environment,
                             WorkerThreads::Starter startThread)
    : core_(std::make_shared<Core>(environment, std::move(startThread))) {
  const auto* codec = &flutter::StandardMethodCodec::GetInstance();
  methodChannel_ = std::make_unique<flutter::MethodChannel<EncodableValue>>(messenger, kMethodChannelName, codec);
  methodChannel_->SetMethodCallHandler(
      [this](const MethodCall& call, std::unique_ptr<MethodResult> result) {
        DispatchMethodCall(call, std::move(result));
      });
  eventChannel_ = std::make_unique<flutter::EventChannel<EncodableValue>>(messenger, kLatencyEventChannelName, codec);
  Core* core = core_.get();
  eventChannel_->SetStreamHandler(std::make_unique<flutter::StreamHandlerFunctions<EncodableValue>>(
      [core](const EncodableValue*, std::unique_ptr<flutter::EventSink<EncodableValue>>&& events)
          -> std::unique_ptr<StreamError> {
        MutexLock guard(core->sinkLock);
        core->latencySink = std::move(events);
        return nullptr;
      },
      [core](const EncodableValue*) -> std::unique_ptr<StreamError> {
        MutexLock guard(core->sinkLock);
        core->latencySink.reset();
        return nullptr;
      }));
}

VpnPluginHost::~VpnPluginHost() {
  methodChannel_->SetMethodCallHandler(nullptr);
  eventChannel_->SetStreamHandler(nullptr);
  core_->stopping = true;
  core_->connectionCalls.Abandon(core_);
  core_->controller.CleanUp();  // also ends a helper started for latency tests, which ends their streams
  core_->workers.Abandon();
  MutexLock guard(core_->sinkLock);
  core_->latencySink.reset();
}

void VpnPluginHost::EmitLatencyEvent(const std::string& requestId, const std::string& nodeTag,
                                     std::int32_t delayMs) {
  core_->EmitLatencyEvent(requestId, nodeTag, delayMs);
}

void VpnPluginHost::Core::EmitLatencyEvent(const std::string& requestId, const std::string& nodeTag,
                                           std::int32_t delayMs) {
  MutexLock guard(sinkLock);
  if (!latencySink) return;
  latencySink->Success(EncodableValue(EncodableMap{
      {EncodableValue("requestId"), EncodableValue(requestId)},
      {EncodableValue("nodeTag"), EncodableValue(nodeTag)},
      {EncodableValue("delayMs"), EncodableValue(delayMs)},
  }));
}

void VpnPluginHost::DispatchMethodCall(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  const std::string& method = call.method_name();
  if (method == "getStatus") {
    ServeInOrder(std::move(result), [](Core& core) { return EncodableValue(core.controller.GetStatus()); });
  } else if (method == "connect") {
    const EncodableMap* arguments = MapArguments(call);
    if (arguments == nullptr) return result->Error("bad_args", "Invalid VPN connect arguments");
    ServeInOrder(std::move(result), [arguments = *arguments](Core& core) { return core.controller.Connect(arguments); });
  } else if (method == "disconnect") {
    ServeInOrder(std::move(result), [](Core& core) { return core.controller.Disconnect(); });
  } else if (method == "getTrafficSnapshot") {
    ServeOnWorker(std::move(result), [](Core& core) {
      return GetTrafficSnapshot(core.helper, core.localTraffic, core.controller.LocalEngineCarriesTraffic());
    }, FallbackTrafficSnapshot());
  } else if (method == "testNodeDelays") {
    const EncodableMap* arguments = MapArguments(call);
    if (arguments == nullptr) return result->Error("bad_args", "Invalid latency test arguments");
    ServeOnWorker(std::move(result), [arguments = *arguments](Core& core) { return core.RunLatencyTestFor(arguments); },
                  EncodableValue(EncodableMap{}));
  } else if (method == "cancelNodeDelayTests") {
    const EncodableMap* arguments = MapArguments(call);
    if (arguments == nullptr) return result->Error("bad_args", "Invalid latency cancel arguments");
    ServeOnWorker(std::move(result), [arguments = *arguments](Core& core) {
      return CancelLatencyTest(arguments, core.controller.LatencyClientFor(&core.stopping));
    }, EncodableValue(EncodableMap{{EncodableValue("status"), EncodableValue("ignored")}}));
  } else {
    result->NotImplemented();
  }
}

void VpnPluginHost::ServeInOrder(std::unique_ptr<MethodResult> result, Work work) {
  std::shared_ptr<MethodResult> call(std::move(result));
  core_->connectionCalls.Post({[core = core_, call, work = std::move(work)] { call->Success(work(*core)); },
                               [call] { call->NotImplemented(); }});
}

void VpnPluginHost::ServeOnWorker(std::unique_ptr<MethodResult> result, Work work, EncodableValue unserved) {
  std::shared_ptr<MethodResult> call(std::move(result));
  if (!core_->workers.Start([core = core_, call, work = std::move(work)] { call->Success(work(*core)); }))
    call->Success(unserved);
}

EncodableValue VpnPluginHost::Core::RunLatencyTestFor(const EncodableMap& arguments) {
  const std::string requestId = StringArgument(arguments, "requestId");
  const auto onResult = [this, &requestId](const std::string& tag, std::int32_t delayMs) {
    EmitLatencyEvent(requestId, tag, delayMs);
  };
  return RunLatencyTest(arguments, onResult, controller.LatencyClientFor(&stopping));
}

}  // namespace pelno
