#include "plugin/wininet_helper_transport.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>

#include "base/text_encoding.h"
#include "base/unique_handle.h"
#include "engine/engine_contract.h"

namespace pelno {
namespace {

void SetTimeout(HINTERNET session, DWORD option, DWORD milliseconds) {
  ::InternetSetOptionW(session, option, &milliseconds, sizeof(milliseconds));
}

class WinInetHelperReply : public HelperReply {
 public:
  WinInetHelperReply(UniqueInternetHandle session, UniqueInternetHandle connection,
                     UniqueInternetHandle request)
      : session_(std::move(session)), connection_(std::move(connection)), request_(std::move(request)) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (::HttpQueryInfoW(request_.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                         &size, nullptr)) {
      status_ = static_cast<int>(status);
    }
  }

  int Status() const override { return status_; }

  // A read of exactly what InternetQueryDataAvailable reports returns at once; a
  // larger one would wait for a full buffer or the end of the reply.
  bool ReadChunk(std::string& chunk) override {
    DWORD available = 0;
    if (!::InternetQueryDataAvailable(request_.Get(), &available, 0, 0) || available == 0) return false;
    chunk.resize(std::min<DWORD>(available, kHelperReadChunk));
    DWORD read = 0;
    if (!::InternetReadFile(request_.Get(), chunk.data(), static_cast<DWORD>(chunk.size()), &read) ||
        read == 0) {
      return false;
    }
    chunk.resize(read);
    return true;
  }

 private:
  // Declared in opening order, so they close request, connection, session.
  UniqueInternetHandle session_;
  UniqueInternetHandle connection_;
  UniqueInternetHandle request_;
  int status_ = 0;
};

}  // namespace

std::unique_ptr<HelperReply> WinInetHelperTransport::Send(std::string_view verb, std::string_view path,
                                                          std::string_view body) {
  UniqueInternetHandle session(::InternetOpenW(L"PelnoVPN", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!session) return nullptr;
  SetTimeout(session.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, kHelperConnectTimeoutMs);
  SetTimeout(session.Get(), INTERNET_OPTION_SEND_TIMEOUT, kHelperSendTimeoutMs);
  SetTimeout(session.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, kHelperReceiveTimeoutMs);

  UniqueInternetHandle connection(::InternetConnectW(session.Get(), kHelperServer, kControlPort, nullptr,
                                                     nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!connection) return nullptr;
  const std::wstring verbText = Utf8ToWide(verb);
  const std::wstring pathText = Utf8ToWide(path);
  UniqueInternetHandle request(::HttpOpenRequestW(connection.Get(), verbText.c_str(), pathText.c_str(),
                                                  nullptr, nullptr, nullptr,
                                                  INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  if (!request) return nullptr;
  static constexpr wchar_t kHeaders[] = L"Content-Type: application/json\r\n";
  void* data = body.empty() ? nullptr : const_cast<char*>(body.data());
  if (!::HttpSendRequestW(request.Get(), kHeaders, static_cast<DWORD>(-1), data,
                          static_cast<DWORD>(body.size()))) {
    return nullptr;
  }
  return std::make_unique<WinInetHelperReply>(std::move(session), std::move(connection), std::move(request));
}

}  // namespace pelno
