#include "server/route_dispatch.h"

namespace pelno {

const ControlRoute* FindRoute(const RouteTable& routes, std::string_view method,
                              std::string_view path) {
  for (const ControlRoute& route : routes) {
    if (route.method == method && route.path == path) return &route;
  }
  return nullptr;
}

HttpResponse Dispatch(const RouteTable& routes, const ControlRequest& request) {
  const ControlRoute* route = FindRoute(routes, request.method, request.path);
  if (route == nullptr || !route->handler) return NotFoundResponse();
  return OkResponse(route->contentType, route->handler(request));
}

void ServeRequest(const RouteTable& routes, const ControlRequest& request,
                  ResponseChannel& channel) {
  const ControlRoute* route = FindRoute(routes, request.method, request.path);
  if (route != nullptr && route->stream) {
    route->stream(request, channel);
    return;
  }
  channel.Send(FormatHttpResponse(Dispatch(routes, request)));
}

std::optional<HttpResponse> RefusalResponse(RequestState state) {
  switch (state) {
    case RequestState::kHeaderTooLarge:
    case RequestState::kBodyTooLarge:
    case RequestState::kOverBudget:
      return TooLargeResponse();
    case RequestState::kForbidden:
      return ForbiddenResponse();
    case RequestState::kIncomplete:
    case RequestState::kComplete:
      break;
  }
  return std::nullopt;
}

}  // namespace pelno
