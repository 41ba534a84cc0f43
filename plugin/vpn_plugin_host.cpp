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

// Owned by the worker thread; stays with the caller when no thread can be created.
struct PendingCall {
  std::unique_ptr<VpnPluginHost::MethodResult> result;
  EncodableMap arguments;
};

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
  controller_.CleanUp();  // also ends a helper started for latency tests, which ends their streams
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
    result->Success(EncodableValue(controller_.GetStatus()));
  } else if (method == "connect") {
    const EncodableMap* arguments = MapArguments(call);
    if (arguments == nullptr) return result->Error("bad_args", "Invalid VPN connect arguments");
    result->Success(controller_.Connect(*arguments));
  } else if (method == "disconnect") {
    result->Success(controller_.Disconnect());
  } else if (method == "getTrafficSnapshot") {
    StartTrafficSnapshot(std::move(result));
  } else if (method == "testNodeDelays") {
    const EncodableMap* arguments = MapArguments(call);
    if (arguments == nullptr) return result->Error("bad_args", "Invalid latency test arguments");
    StartLatencyTest(*arguments, std::move(result));
  } else if (method == "cancelNodeDelayTests") {
    const EncodableMap* arguments = MapArguments(call);
    if (arguments == nullptr) return result->Error("bad_args", "Invalid latency cancel arguments");
    result->Success(CancelLatencyTest(*arguments, controller_.LatencyClientFor(&stopping_)));
  } else {
    result->NotImplemented();
  }
}

void VpnPluginHost::StartTrafficSnapshot(std::unique_ptr<MethodResult> result) {
  auto call = std::make_shared<PendingCall>();
  call->result = std::move(result);
  const bool started = workers_.Start([this, call] {
    call->result->Success(GetTrafficSnapshot(helper_, localTraffic_, controller_.LocalEngineCarriesTraffic()));
  });
  // Without a thread the call is still answered, once, as if no snapshot could be had.
  if (!started) call->result->Success(FallbackTrafficSnapshot());
}

void VpnPluginHost::StartLatencyTest(const EncodableMap& arguments, std::unique_ptr<MethodResult> result) {
  auto call = std::make_shared<PendingCall>();
  call->result = std::move(result);
  call->arguments = arguments;
  const bool started = workers_.Start([this, call] {
    const std::string requestId = StringArgument(call->arguments, "requestId");
    const auto onResult = [this, &requestId](const std::string& tag, std::int32_t delayMs) {
      EmitLatencyEvent(requestId, tag, delayMs);
    };
    call->result->Success(RunLatencyTest(call->arguments, onResult, controller_.LatencyClientFor(&stopping_)));
  });
  // Without a thread the call is still answered, once, as a test that could not run.
  if (!started) call->result->Success(EncodableValue(EncodableMap{}));
}

}  // namespace pelno
