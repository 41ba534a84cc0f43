#include "helper/control_routes.h"

#include "helper/log_journal.h"

namespace pelno {

namespace {

std::string AnswerPing(const ControlRequest&) { return "pong"; }

std::string AnswerLogs(const ControlRequest&) { return ReadLogJournal(); }

// Rows without a handler are known but not served yet; they answer 404.
RouteTable MakeControlRoutes() {
  return {
      {"GET", "/ping", kTextPlain, AnswerPing, nullptr},
      {"GET", "/status", kApplicationJson, nullptr, nullptr},
      {"GET", "/traffic-snapshot", kApplicationJson, nullptr, nullptr},
      {"POST", "/start", kApplicationJson, nullptr, nullptr},
      {"POST", "/start-tun", kApplicationJson, nullptr, nullptr},
      {"POST", "/stop", kApplicationJson, nullptr, nullptr},
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
