// The native end of the user interface's channels: the method channel
// "pelno_vpn_desk/vpn" and the event channel "pelno_vpn_desk/vpn_latency_events"
// with their handlers, the latency sink and the connection controller. The desktop
// window creates it right after its Flutter view controller and destroys it before.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "base/mutex.h"
#include "flutter/binary_messenger.h"
#include "flutter/encodable_value.h"
#include "flutter/event_channel.h"
#include "flutter/event_sink.h"
#include "flutter/method_call.h"
#include "flutter/method_channel.h"
#include "flutter/method_result.h"
#include "plugin/serial_work_queue.h"
#include "plugin/vpn_controller.h"
#include "plugin/worker_threads.h"

namespace pelno {

inline constexpr char kMethodChannelName[] = "pelno_vpn_desk/vpn";
inline constexpr char kLatencyEventChannelName[] = "pelno_vpn_desk/vpn_latency_events";

class VpnPluginHost {
 public:
  using MethodCall = flutter::MethodCall<flutter::EncodableValue>;
  using MethodResult = flutter::MethodResult<flutter::EncodableValue>;

  // Registers both channels on `messenger`, which must outlive the host, as must the
  // platforms of `environment`.
  VpnPluginHost(flutter::BinaryMessenger* messenger, const PluginEnvironment& environment,
                WorkerThreads::Starter startThread = {});
  VpnPluginHost(const VpnPluginHost&) = delete;
  VpnPluginHost& operator=(const VpnPluginHost&) = delete;
  // Unregisters the handlers; answers the connection calls still queued not
  // implemented, as calls arriving now would be; runs the controller's clean-up
  // (bounded, whatever the helper does); drops the sink and channels. Calls in
  // flight are not waited for: they share what they use, which goes with the last
  // of them, and answer through the messenger's counted reference, if it still
  // has its engine; a latency stream is read no further.
  ~VpnPluginHost();

  // Answers every call exactly once. What can wait on a process, a socket or the
  // service manager runs on a worker thread and answers from there: "connect",
  // "disconnect" and "getStatus" one at a time in the order they came, the others
  // each on a thread of its own. Argument errors and unknown methods are answered at
  // once. Without a thread a call is still answered once: the connection calls are
  // then served here, the others answered as if their helper could not be reached.
  void DispatchMethodCall(const MethodCall& call, std::unique_ptr<MethodResult> result);

  // Sends {"requestId", "nodeTag", "delayMs"} to the listener, if any.
  void EmitLatencyEvent(const std::string& requestId, const std::string& nodeTag, std::int32_t delayMs);

  VpnController& controller() { return core_->controller; }

 private:
  // What the calls use, shared with those in flight so that it outlives the host
  // while they run on.
  struct Core {
    Core(const PluginEnvironment& environment, WorkerThreads::Starter startThread)
        : helper(environment.helper),
          localTraffic(environment.localTraffic),
          workers(std::move(startThread)),
          controller(environment) {}
    void EmitLatencyEvent(const std::string& requestId, const std::string& nodeTag, std::int32_t delayMs);
    flutter::EncodableValue RunLatencyTestFor(const flutter::EncodableMap& arguments);

    HelperTransport& helper;
    LocalTrafficSource& localTraffic;
    std::unique_ptr<flutter::EventSink<flutter::EncodableValue>> latencySink GUARDED_BY(sinkLock);
    Mutex sinkLock;
    std::atomic<bool> stopping{false};
    WorkerThreads workers;
    SerialWorkQueue connectionCalls{workers};  // "connect", "disconnect", "getStatus"
    VpnController controller;
  };
  using Work = std::function<flutter::EncodableValue(Core&)>;
  // Queued behind the connection calls that came before.
  void ServeInOrder(std::unique_ptr<MethodResult> result, Work work);
  // On a worker thread of its own; without one, answered with `unserved` at once.
  void ServeOnWorker(std::unique_ptr<MethodResult> result, Work work, flutter::EncodableValue unserved);

  std::unique_ptr<flutter::MethodChannel<flutter::EncodableValue>> methodChannel_;
  std::unique_ptr<flutter::EventChannel<flutter::EncodableValue>> eventChannel_;
  std::shared_ptr<Core> core_;
};

}  // namespace pelno
