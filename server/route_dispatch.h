// Matching a request to a route of the control server and answering it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "server/http_request.h"
#include "server/http_response.h"
#include "server/response_channel.h"

namespace pelno {

// Returns the body of a 200 reply with the route's content type.
using RouteHandler = std::function<std::string(const ControlRequest&)>;
// Writes its own response on the channel (a stream without Content-Length).
using StreamHandler = std::function<void(const ControlRequest&, ResponseChannel&)>;

// One row of the route table. A row whose handler and stream are both empty is
// known but not served yet: it answers 404 like an unknown route.
struct ControlRoute {
  std::string_view method;
  std::string_view path;
  std::string_view contentType;
  RouteHandler handler;
  StreamHandler stream;
};

using RouteTable = std::vector<ControlRoute>;

// The first row whose method and path equal the request's byte for byte.
const ControlRoute* FindRoute(const RouteTable& routes, std::string_view method,
                              std::string_view path);

// The reply of a non-streaming route, or the 404 reply. Does not run stream handlers.
HttpResponse Dispatch(const RouteTable& routes, const ControlRequest& request);

// Answers a request: runs a stream handler on the channel, or sends Dispatch's reply
// with one Send whose result is ignored.
void ServeRequest(const RouteTable& routes, const ControlRequest& request,
                  ResponseChannel& channel);

// The reply for a request refused while it was being read, or nothing for
// kIncomplete and kComplete.
std::optional<HttpResponse> RefusalResponse(RequestState state);

}  // namespace pelno
