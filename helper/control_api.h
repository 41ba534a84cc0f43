// The helper's control API: every endpoint's method, path, content type and
// handler, in matching order.
#pragma once

#include <functional>
#include <string>

#include "server/route_dispatch.h"

namespace pelno {

class LogJournal;
class HelperSessionController;
class UrlTestPlatform;
class UrlTestRegistry;

// What the routes serve with. The program builds each part once; all must outlive
// the table.
struct ControlApiParts {
  HelperSessionController& session;
  LogJournal& journal;
  // The whole traffic snapshot, asked only while the engine runs (BuildTrafficSnapshot);
  // requests that come while it is being built share that build.
  std::function<std::string()> trafficSnapshot;
  UrlTestPlatform& urlTests;
  UrlTestRegistry& urlTestRegistry;
};

RouteTable MakeControlApiRoutes(const ControlApiParts& parts);

}  // namespace pelno
