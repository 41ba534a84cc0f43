#include "plugin/helper_client.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <string>

#include "base/unique_handle.h"
#include "plugin/json_text_fields.h"
#include "plugin/status_map.h"

namespace pelno {
namespace {

void SetTimeout(HINTERNET session, DWORD option, DWORD milliseconds) {
  ::InternetSetOptionW(session, option, &milliseconds, sizeof(milliseconds));
}

}  // namespace

bool HelperRequest(std::wstring_view verb, std::wstring_view path, std::string_view body,
                   const HelperChunkCallback& onChunk) {
  // Declared in opening order, so they close request, connection, session.
  UniqueInternetHandle session(::InternetOpenW(L"PelnoVPN", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!session) return false;
  SetTimeout(session.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, kHelperConnectTimeoutMs);
  SetTimeout(session.Get(), INTERNET_OPTION_SEND_TIMEOUT, kHelperSendTimeoutMs);
  SetTimeout(session.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, kHelperReceiveTimeoutMs);

  UniqueInternetHandle connection(::InternetConnectW(session.Get(), kHelperServer, kHelperPort, nullptr,
                                               nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return false;
  const std::wstring verbText(verb);
  const std::wstring pathText(path);
  UniqueInternetHandle request(::HttpOpenRequestW(connection.Get(), verbText.c_str(), pathText.c_str(),
                                            nullptr, nullptr, nullptr,
                                            INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  if (!request) return false;
  static constexpr wchar_t kHeaders[] = L"Content-Type: application/json\r\n";
  void* data = body.empty() ? nullptr : const_cast<char*>(body.data());
  if (!::HttpSendRequestW(request.Get(), kHeaders, static_cast<DWORD>(-1), data,
                          static_cast<DWORD>(body.size()))) {
    return false;
  }

  char buffer[kHelperReadChunk] = {};
  for (;;) {
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(request.Get(), &available, 0, 0) || available == 0) break;
    DWORD read = 0;
    const DWORD wanted = std::min<DWORD>(available, kHelperReadChunk);
    if (!::InternetReadFile(request.Get(), buffer, wanted, &read) || read == 0) break;
    if (!onChunk(std::string_view(buffer, read))) break;
  }
  return true;
}

bool HelperRequestText(std::wstring_view verb, std::wstring_view path, std::string_view body,
                       std::string& reply) {
  return HelperRequest(verb, path, body, [&reply](std::string_view chunk) {
    reply += chunk;
    return true;
  });
}

bool QueryHelperStatus(std::string& status) {
  std::string reply;
  if (!HelperRequestText(L"GET", L"/status", {}, reply)) return false;
  std::string text = JsonStringField(reply, "status");
  if (text.empty()) return false;
  status = std::move(text);
  return true;
}

bool StopHelperSession(flutter::EncodableValue& statusMap) {
  std::string reply;
  if (!HelperRequestText(L"POST", L"/stop", {}, reply)) return false;
  statusMap = ParseStatusReply(reply, kStatusDisconnected, "Windows helper disconnected");
  return true;
}

bool HelperAnswersPing() {
  std::string reply;
  return HelperRequestText(L"GET", L"/ping", {}, reply) && reply == "pong";
}

}  // namespace pelno
