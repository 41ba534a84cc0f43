// One complete HTTP/1.1 response of the control server.
#pragma once

#include <string>
#include <string_view>

namespace pelno {

inline constexpr std::string_view kTextPlain = "text/plain";
inline constexpr std::string_view kApplicationJson = "application/json";

struct HttpResponse {
  int status = 200;
  std::string reason;
  std::string contentType;
  std::string body;
};

// "HTTP/1.1 <status> <reason>\r\nContent-Type: ..\r\nContent-Length: ..\r\n
//  Connection: close\r\n\r\n<body>"
std::string FormatHttpResponse(int status, std::string_view reason, std::string_view contentType,
                               std::string_view body);
std::string FormatHttpResponse(const HttpResponse& response);

// "HTTP/1.1 200 OK\r\nContent-Type: ..\r\nConnection: close\r\n\r\n": the head of a
// stream whose end is the connection's close.
std::string FormatStreamHead(std::string_view contentType);

HttpResponse OkResponse(std::string_view contentType, std::string body);
HttpResponse NotFoundResponse();    // 404 "not found"
HttpResponse TooLargeResponse();    // 413 "request too large"
HttpResponse ForbiddenResponse();   // 403 "forbidden"

}  // namespace pelno
