#include "server/http_response.h"

namespace pelno {

std::string FormatHttpResponse(int status, std::string_view reason, std::string_view contentType,
                               std::string_view body) {
  std::string text = "HTTP/1.1 " + std::to_string(status) + " ";
  text.append(reason);
  text.append("\r\nContent-Type: ");
  text.append(contentType);
  text.append("\r\nContent-Length: " + std::to_string(body.size()));
  text.append("\r\nConnection: close\r\n\r\n");
  text.append(body);
  return text;
}

std::string FormatHttpResponse(const HttpResponse& response) {
  return FormatHttpResponse(response.status, response.reason, response.contentType, response.body);
}

std::string FormatStreamHead(std::string_view contentType) {
  std::string text = "HTTP/1.1 200 OK\r\nContent-Type: ";
  text.append(contentType);
  text.append("\r\nConnection: close\r\n\r\n");
  return text;
}

HttpResponse OkResponse(std::string_view contentType, std::string body) {
  return {200, "OK", std::string(contentType), std::move(body)};
}

HttpResponse NotFoundResponse() { return {404, "Not Found", std::string(kTextPlain), "not found"}; }

HttpResponse TooLargeResponse() {
  return {413, "Payload Too Large", std::string(kTextPlain), "request too large"};
}

HttpResponse ForbiddenResponse() { return {403, "Forbidden", std::string(kTextPlain), "forbidden"}; }

}  // namespace pelno
