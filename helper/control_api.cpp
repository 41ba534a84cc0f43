#include "helper/control_api.h"

#include "engine/engine_contract.h"
#include "helper/session_controller.h"
#include "server/log_journal.h"
#include "traffic/traffic_snapshot.h"
#include "urltest/url_test_stream.h"
#include "urltest/win32_url_test_platform.h"

namespace pelno {

RouteTable MakeControlApiRoutes(SessionController& session, LogJournal& journal) {
  return {
      {"GET", "/ping", kTextPlain, [](const ControlRequest&) { return std::string("pong"); },
       nullptr},
      {"GET", "/status", kApplicationJson,
       [&session](const ControlRequest&) { return session.GetSessionStatus(); }, nullptr},
      // The session lock is held only for the running check: the controller requests
      // and table reads that follow never delay a start or stop.
      {"GET", "/traffic-snapshot", kApplicationJson,
       [&session](const ControlRequest&) {
         return session.IsEngineRunning() ? BuildTrafficSnapshot()
                                          : std::string(kEmptyTrafficSnapshot);
       },
       nullptr},
      {"POST", "/start", kApplicationJson,
       [&session](const ControlRequest& r) { return session.StartProxySession(r.body); }, nullptr},
      {"POST", "/start-tun", kApplicationJson,
       [&session](const ControlRequest& r) { return session.StartTunSession(r.body); }, nullptr},
      {"POST", "/stop", kApplicationJson,
       [&session](const ControlRequest&) { return session.StopSession(); }, nullptr},
      {"POST", "/urltest", kNdjsonContentType, nullptr,
       [&journal](const ControlRequest& r, ResponseChannel& channel) {
         RunUrlTestStream(r.body, channel, SystemUrlTestPlatform(), SystemUrlTestRegistry(), journal);
       }},
      {"POST", "/cancel-urltest", kApplicationJson,
       [&journal](const ControlRequest& r) {
         return HandleCancelUrlTest(r.body, SystemUrlTestRegistry(), journal);
       },
       nullptr},
      {"GET", "/logs", kTextPlain,
       [&journal](const ControlRequest&) { return journal.ReadLogJournal(); }, nullptr},
  };
}

}  // namespace pelno
