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
    : helper_(environment.helper),
      localTraffic_(environment.localTraffic),
      workers_(std::move(startThread)),
      controller_(environment) {
  const auto* codec = &flutter::StandardMethodCodec::GetInstance();
  methodChannel_ = std::make_unique<flutter::MethodChannel<EncodableValue>>(messenger, kMethodChannelName, codec);
  methodChannel_->SetMethodCallHandler(
      [this](const MethodCall& call, std::unique_ptr<MethodResult> result) {
        DispatchMethodCall(call, std::move(result));
      });
  eventChannel_ = std::make_unique<flutter::EventChannel<EncodableValue>>(messenger, kLatencyEventChannelName, codec);
  eventChannel_->SetStreamHandler(std::make_unique<flutter::StreamHandlerFunctions<EncodableValue>>(
      [this](const EncodableValue*, std::unique_ptr<flutter::EventSink<EncodableValue>>&& events)
          -> std::unique_ptr<StreamError> {
        std::lock_guard<std::mutex> guard(sinkLock_);
        latencySink_ = std::move(events);
        return nullptr;
      },
      [this](const EncodableValue*) -> std::unique_ptr<StreamError> {
        std::lock_guard<std::mutex> guard(sinkLock_);
        latencySink_.reset();
        return nullptr;
      }));
}

VpnPluginHost::~VpnPluginHost() {
  methodChannel_->SetMethodCallHandler(nullptr);
  eventChannel_->SetStreamHandler(nullptr);
  stopping_ = true;
  connectionCalls_.Close();  // the clean-up never overlaps a connect, disconnect or status query
  controller_.CleanUp();     // also ends a helper started for latency tests, which ends their streams
  workers_.JoinAll();
  std::lock_guard<std::mutex> guard(sinkLock_);
  latencySink_.reset();
}

void VpnPluginHost::EmitLatencyEvent(const std::string& requestId, const std::string& nodeTag,
                                     std::int32_t delayMs) {
  std::lock_guard<std::mutex> guard(sinkLock_);
  if (!latencySink_) return;
  latencySink_->Success(EncodableValue(EncodableMap{
      {EncodableValue("requestId"), EncodableValue(requestId)},
      {EncodableValue("nodeTag"), EncodableValue(nodeTag)},
      {EncodableValue("delayMs"), EncodableValue(delayMs)},
  }));
}

void VpnPluginHost::DispatchMethodCall(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  const std::string& method = call.method_name();
  if (method == "getStatus") {
    ServeInOrder(std::move(result), [this] { return EncodableValue(controller_.GetStatus()); });
  } else if (method == "connect") {
    const EncodableMap* arguments = MapArguments(call);
    if (arguments == nullptr) return result->Error("bad_args", "Invalid VPN connect arguments");
    ServeInOrder(std::move(result), [this, arguments = *arguments] { return controller_.Connect(arguments); });
  } else if (method == "disconnect") {
    ServeInOrder(std::move(result), [this] { return controller_.Disconnect(); });
  } else if (method == "getTrafficSnapshot") {
    ServeOnWorker(std::move(result), [this] {
      return GetTrafficSnapshot(helper_, localTraffic_, controller_.LocalEngineCarriesTraffic());
    }, FallbackTrafficSnapshot());
  } else if (method == "testNodeDelays") {
    const EncodableMap* arguments = MapArguments(call);
    if (arguments == nullptr) return result->Error("bad_args", "Invalid latency test arguments");
    ServeOnWorker(std::move(result), [this, arguments = *arguments] { return RunLatencyTestFor(arguments); },
                  EncodableValue(EncodableMap{}));
  } else if (method == "cancelNodeDelayTests") {
    const EncodableMap* arguments = MapArguments(call);
    if (arguments == nullptr) return result->Error("bad_args", "Invalid latency cancel arguments");
    ServeOnWorker(std::move(result), [this, arguments = *arguments] {
      return CancelLatencyTest(arguments, controller_.LatencyClientFor(&stopping_));
    }, EncodableValue(EncodableMap{{EncodableValue("status"), EncodableValue("ignored")}}));
  } else {
    result->NotImplemented();
  }
}

void VpnPluginHost::ServeInOrder(std::unique_ptr<MethodResult> result, Work work) {
  std::shared_ptr<MethodResult> call(std::move(result));
  connectionCalls_.Post({[call, work = std::move(work)] { call->Success(work()); },
                         [call] { call->NotImplemented(); }});
}

void VpnPluginHost::ServeOnWorker(std::unique_ptr<MethodResult> result, Work work, EncodableValue unserved) {
  std::shared_ptr<MethodResult> call(std::move(result));
  if (!workers_.Start([call, work = std::move(work)] { call->Success(work()); })) call->Success(unserved);
}

EncodableValue VpnPluginHost::RunLatencyTestFor(const EncodableMap& arguments) {
  const std::string requestId = StringArgument(arguments, "requestId");
  const auto onResult = [this, &requestId](const std::string& tag, std::int32_t delayMs) {
    EmitLatencyEvent(requestId, tag, delayMs);
  };
  return RunLatencyTest(arguments, onResult, controller_.LatencyClientFor(&stopping_));
}

}  // namespace pelno
