#include "helper/control_api.h"

#include <memory>

#include "engine/engine_contract.h"
#include "helper/helper_session_controller.h"
#include "server/log_journal.h"
#include "traffic/shared_snapshot.h"
#include "traffic/traffic_snapshot.h"
#include "urltest/url_test_stream.h"

namespace pelno {

RouteTable MakeControlApiRoutes(const ControlApiParts& parts) {
  HelperSessionController& session = parts.session;
  LogJournal& journal = parts.journal;
  UrlTestPlatform& urlTests = parts.urlTests;
  UrlTestRegistry& registry = parts.urlTestRegistry;
  return {
      {"GET", "/ping", kTextPlain, [](const ControlRequest&) { return std::string("pong"); },
       nullptr},
      {"GET", "/status", kApplicationJson,
       [&session](const ControlRequest&) { return session.GetSessionStatus(); }, nullptr},
      // The session lock is held only for the running check: the controller requests
      // and table reads that follow never delay a start or stop. Requests that come
      // while a snapshot is being built share the one built after it.
      {"GET", "/traffic-snapshot", kApplicationJson,
       [&session, snapshot = std::make_shared<SharedSnapshot>(parts.trafficSnapshot)](const ControlRequest&) {
         return session.IsEngineRunning() ? snapshot->Get() : std::string(kEmptyTrafficSnapshot);
       },
       nullptr},
      {"POST", "/start", kApplicationJson,
       [&session](const ControlRequest& r) { return session.StartProxySession(r.body); }, nullptr},
      {"POST", "/start-tun", kApplicationJson,
       [&session](const ControlRequest& r) { return session.StartTunSession(r.body); }, nullptr},
      {"POST", "/stop", kApplicationJson,
       [&session](const ControlRequest&) { return session.StopSession(); }, nullptr},
      {"POST", "/urltest", kNdjsonContentType, nullptr,
       [&urlTests, &registry, &journal](const ControlRequest& r, ResponseChannel& channel) {
         RunUrlTestStream(r.body, channel, urlTests, registry, journal);
       }},
      {"POST", "/cancel-urltest", kApplicationJson,
       [&registry, &journal](const ControlRequest& r) {
         return HandleCancelUrlTest(r.body, registry, journal);
       },
       nullptr},
      {"GET", "/logs", kTextPlain,
       [&journal](const ControlRequest&) { return journal.ReadLogJournal(); }, nullptr},
  };
}

}  // namespace pelno
