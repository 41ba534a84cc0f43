#include "helper/control_routes.h"

#include "helper/helper_session.h"
#include "helper/log_journal.h"

namespace pelno {

namespace {

std::string AnswerPing(const ControlRequest&) { return "pong"; }

std::string AnswerLogs(const ControlRequest&) { return ReadLogJournal(); }

std::string AnswerStatus(const ControlRequest&) { return GetSessionStatus(); }
std::string AnswerStart(const ControlRequest& request) { return StartProxySession(request.body); }
std::string AnswerStartTun(const ControlRequest& request) { return StartTunSession(request.body); }
std::string AnswerStop(const ControlRequest&) { return StopSession(); }

// Rows without a handler are known but not served yet; they answer 404.
RouteTable MakeControlRoutes() {
  return {
      {"GET", "/ping", kTextPlain, AnswerPing, nullptr},
      {"GET", "/status", kApplicationJson, AnswerStatus, nullptr},
      {"GET", "/traffic-snapshot", kApplicationJson, nullptr, nullptr},
      {"POST", "/start", kApplicationJson, AnswerStart, nullptr},
      {"POST", "/start-tun", kApplicationJson, AnswerStartTun, nullptr},
      {"POST", "/stop", kApplicationJson, AnswerStop, nullptr},
      {"POST", "/urltest", kNdjson, nullptr, nullptr},  // streams: set `stream`
      {"POST", "/cancel-urltest", kApplicationJson, nullptr, nullptr},
      {"GET", "/logs", kTextPlain, AnswerLogs, nullptr},
  };
}

}  // namespace

const RouteTable& ControlRoutes() {
  static const RouteTable routes = MakeControlRoutes();
  return routes;
}

}  // namespace pelno
