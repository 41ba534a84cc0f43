#include "plugin/wininet_helper_transport.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <system_error>

#include "base/detached_thread.h"
#include "base/mutex.h"
#include "base/text_encoding.h"
#include "base/unique_handle.h"
#include "engine/engine_contract.h"

namespace pelno {
namespace {

void SetTimeout(HINTERNET handle, DWORD option, DWORD milliseconds) {
  ::InternetSetOptionW(handle, option, &milliseconds, sizeof(milliseconds));
}

// One request's handles and the outcome of its current blocking step, shared by the
// caller and the thread running the step: the handles close with the last of them, so
// a step given up on never uses a handle value Windows may have handed out anew.
struct Exchange {
  // Declared in opening order, so they close request, connection, session.
  UniqueInternetHandle session;
  UniqueInternetHandle connection;
  UniqueInternetHandle request;
  std::string body;   // kept here: a step given up on may still be sending it
  std::string chunk;  // what the last read step got
  Mutex lock;
  std::condition_variable stepEnded;
  std::uint64_t stepsEnded GUARDED_BY(lock) = 0;
  bool stepSucceeded GUARDED_BY(lock) = false;
  bool givenUp GUARDED_BY(lock) = false;  // a step outlived its bound: the exchange is over
};

using Step = bool (*)(HINTERNET request, Exchange& exchange);
using Deadline = std::optional<std::chrono::steady_clock::time_point>;

// A step's bound, cut to what is left before the exchange's deadline, if any.
DWORD Within(const Deadline& deadline, DWORD stepMs) {
  if (!deadline) return stepMs;
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - std::chrono::steady_clock::now());
  return left.count() <= 0 ? 0 : static_cast<DWORD>(std::min<long long>(left.count(), stepMs));
}

// Runs `step` on a thread of its own and waits for it at most `boundMs`; false when it
// failed or was given up on.
bool RunBounded(const std::shared_ptr<Exchange>& exchange, DWORD boundMs, Step step) {
  MutexLock lock(exchange->lock);
  if (exchange->givenUp || boundMs == 0) return false;
  const std::uint64_t mine = exchange->stepsEnded + 1;
  const HINTERNET request = exchange->request.Get();
  try {
    StartDetachedThread([exchange, request, step] {
      const bool succeeded = step(request, *exchange);
      MutexLock guard(exchange->lock);
      exchange->stepSucceeded = succeeded;
      ++exchange->stepsEnded;
      exchange->stepEnded.notify_all();
    });
  } catch (const std::system_error&) {
    return false;
  }
  if (lock.WaitFor(exchange->stepEnded, std::chrono::milliseconds(boundMs),
                   [&]() REQUIRES(exchange->lock) { return exchange->stepsEnded == mine; })) {
    return exchange->stepSucceeded;
  }
  // The step is left to the time-outs set on the request; closing the request under
  // it would leave it a dead handle value to use between its calls.
  exchange->givenUp = true;
  return false;
}

bool SendStep(HINTERNET request, Exchange& exchange) {
  static constexpr wchar_t kHeaders[] = L"Content-Type: application/json\r\n";
  void* data = exchange.body.empty() ? nullptr : exchange.body.data();
  return ::HttpSendRequestW(request, kHeaders, static_cast<DWORD>(-1), data,
                            static_cast<DWORD>(exchange.body.size())) != FALSE;
}

// A read of exactly what InternetQueryDataAvailable reports returns at once; a larger
// one would wait for a full buffer or the end of the reply.
bool ReadStep(HINTERNET request, Exchange& exchange) {
  DWORD available = 0;
  if (!::InternetQueryDataAvailable(request, &available, 0, 0) || available == 0) return false;
  std::string& chunk = exchange.chunk;
  chunk.resize(std::min<DWORD>(available, kHelperReadChunk));
  DWORD read = 0;
  if (!::InternetReadFile(request, chunk.data(), static_cast<DWORD>(chunk.size()), &read) || read == 0)
    return false;
  chunk.resize(read);
  return true;
}

class WinInetHelperReply : public HelperReply {
 public:
  WinInetHelperReply(std::shared_ptr<Exchange> exchange, DWORD readBoundMs, const Deadline& deadline)
      : exchange_(std::move(exchange)), readBoundMs_(readBoundMs), deadline_(deadline) {
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (::HttpQueryInfoW(exchange_->request.Get(), HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                         &size, nullptr)) {
      status_ = static_cast<int>(status);
    }
  }

  int Status() const override { return status_; }

  bool ReadChunk(std::string& chunk) override {
    if (!RunBounded(exchange_, Within(deadline_, readBoundMs_), ReadStep)) return false;
    chunk = std::move(exchange_->chunk);
    return true;
  }

 private:
  std::shared_ptr<Exchange> exchange_;
  DWORD readBoundMs_;
  Deadline deadline_;
  int status_ = 0;
};

}  // namespace

std::unique_ptr<HelperReply> WinInetHelperTransport::Send(std::string_view verb, std::string_view path,
                                                          std::string_view body, HelperBound bound) {
  Deadline deadline;
  if (bound != kStepBoundsOnly) deadline = std::chrono::steady_clock::now() + bound;
  const auto exchange = std::make_shared<Exchange>();
  exchange->session.Reset(::InternetOpenW(L"PelnoVPN", INTERNET_OPEN_TYPE_DIRECT, nullptr, nullptr, 0));
  if (!exchange->session) return nullptr;
  exchange->connection.Reset(::InternetConnectW(exchange->session.Get(), kHelperServer, kControlPort, nullptr,
                                                nullptr, INTERNET_SERVICE_HTTP, 0, 0));
  if (!exchange->connection) return nullptr;
  const std::wstring verbText = Utf8ToWide(verb);
  const std::wstring pathText = Utf8ToWide(path);
  exchange->request.Reset(::HttpOpenRequestW(exchange->connection.Get(), verbText.c_str(), pathText.c_str(),
                                             nullptr, nullptr, nullptr,
                                             INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE, 0));
  if (!exchange->request) return nullptr;
  // Set on the request itself: Wine's WinINet takes no time-out from the session.
  // Within the exchange's bound, so that a step given up on ends soon after.
  SetTimeout(exchange->request.Get(), INTERNET_OPTION_CONNECT_TIMEOUT, Within(deadline, timeouts_.connectMs));
  SetTimeout(exchange->request.Get(), INTERNET_OPTION_SEND_TIMEOUT, Within(deadline, timeouts_.sendMs));
  SetTimeout(exchange->request.Get(), INTERNET_OPTION_RECEIVE_TIMEOUT, Within(deadline, timeouts_.receiveMs));
  exchange->body.assign(body);
  const DWORD sendBoundMs = timeouts_.connectMs + timeouts_.sendMs + timeouts_.receiveMs;
  if (!RunBounded(exchange, Within(deadline, sendBoundMs), SendStep)) return nullptr;
  return std::make_unique<WinInetHelperReply>(exchange, timeouts_.receiveMs, deadline);
}

}  // namespace pelno
