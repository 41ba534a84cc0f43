// The real paths of the helper's clients: WinINet against a scripted control port,
// the real helper program, and Wine's service manager.
#include <winsock2.h>
#include <windows.h>
#include <winsvc.h>

#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "base/unique_handle.h"
#include "plugin/helper_client.h"
#include "plugin/helper_provisioning.h"
#include "plugin/latency_client.h"
#include "plugin/latency_stream.h"
#include "plugin/launched_helper_slot.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/program_folder.h"
#include "plugin/win32_provisioning_platform.h"
#include "plugin/wininet_helper_transport.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using testing::EncodableValue;
using testing::Entries;
using testing::Map;

// The helper's control port for one exchange: reads the request to the end of
// `body`, then writes each piece and pauses after it for its time.
class ScriptedControlPort {
 public:
  struct Piece { std::string bytes; DWORD pauseMs = 0; };

  ScriptedControlPort(std::string body, std::vector<Piece> script) {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    sockaddr_in address = {AF_INET, ::htons(kControlPort), {}, {}};
    address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
    listener_.Reset(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    ::bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), sizeof(address));
    ::listen(listener_.Get(), 1);
    server_ = std::thread([this, body = std::move(body), script = std::move(script)] {
      const UniqueSocket connection(::accept(listener_.Get(), nullptr, nullptr));
      char buffer[8192];
      for (int got; !(request_.find("\r\n\r\n") != std::string::npos && request_.ends_with(body)) &&
                    (got = ::recv(connection.Get(), buffer, sizeof buffer, 0)) > 0;)
        request_.append(buffer, got);
      for (const Piece& piece : script) {
        ::send(connection.Get(), piece.bytes.data(), static_cast<int>(piece.bytes.size()), 0);
        ::Sleep(piece.pauseMs);
      }
    });
  }
  ~ScriptedControlPort() {
    Finish();
    ::WSACleanup();
  }
  // Waits for the script's end (an accept still waiting fails); the request as read.
  const std::string& Finish() {
    listener_.Reset();
    if (server_.joinable()) server_.join();
    return request_;
  }

 private:
  UniqueSocket listener_;
  std::string request_;
  std::thread server_;
};

// Nothing listening fails at once; a reply's status is read and its body handed out
// in pieces of at most 4096 bytes as they arrive, not when the reply ends.
TEST(WinInetHelperTransportTest, FailsAtOnceWithoutListenerAndReadsRepliesAsTheyArrive) {
  WinInetHelperTransport transport;
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_EQ(transport.Send("GET", "/ping", ""), nullptr);
  EXPECT_LT(::GetTickCount64() - start, 3000u);

  // A 404 head and 6000 bytes at once, "late" 600 ms after.
  const std::string early(6000, 'a'), body = "{\"pad\":\"" + std::string(10000, 'x') + "\"}";
  ScriptedControlPort port(body, {{"HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n" + early, 600}, {"late"}});
  const std::unique_ptr<HelperReply> reply = transport.Send("POST", "/start-tun", body);
  EXPECT_EQ(reply ? reply->Status() : 0, 404);
  std::string received, chunk;
  ULONGLONG earlyPartAt = 0;
  while (reply && reply->ReadChunk(chunk)) {
    EXPECT_LE(chunk.size(), kHelperReadChunk);
    received += chunk;
    if (received == early) earlyPartAt = ::GetTickCount64();
  }
  EXPECT_TRUE(earlyPartAt != 0 && ::GetTickCount64() - earlyPartAt >= 400);  // long before the reply ended
  EXPECT_EQ(received, early + "late");
  EXPECT_EQ(port.Finish().rfind("POST /start-tun HTTP/1.1\r\n", 0), 0u);
}

// The head, a whole result line and the start of the next in one piece, then a
// pause: the first line's result is handed on at once, not when the next piece comes.
TEST(WinInetHelperTransportTest, LatencyLineGoesOutWithThePieceThatEndsIt) {
  WinInetHelperTransport transport;
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nConnection: close\r\n\r\n";
  ScriptedControlPort port(BuildUrlTestBody("", kDefaultTestUrl, {"A"}, "{}"),
                           {{head + R"({"nodeTag":"A","delayMs":5})" "\n" R"({"nodeTag":"B",)", 1500},
                            {R"("delayMs":6})" "\n"}});
  const LatencyClient client{transport, [] { return true; }};
  const EncodableValue test = Map({{"nodeTags", EncodableValue(EncodableList{EncodableValue("A")})},
                                   {"runtimeConfig", EncodableValue("{}")}});
  const ULONGLONG start = ::GetTickCount64();
  std::vector<std::pair<std::string, ULONGLONG>> events;  // tag, when
  RunLatencyTest(Entries(test), [&](const std::string& tag, std::int32_t) {
    events.emplace_back(tag, ::GetTickCount64() - start);
  }, client);
  ASSERT_EQ(events.size(), 2u);
  EXPECT_EQ(events[0].first + events[1].first, "AB");
  EXPECT_LT(events[0].second, 1000u);
  EXPECT_GE(events[1].second, 1400u);
}

// One real helper: started hidden by a latency test (the stand-in engine measures),
// asked, then ended by the clean-up (the slot closing).
TEST(HelperClientTest, RealHelperStartedForLatencyAnswersAndIsEndedByTheCleanUp) {
  testing::ProgramFolder program(true);
  WinInetHelperTransport transport;
  LaunchedHelperSlot launched(transport, program.locations, 300);
  const LatencyClient client{transport, [&launched] { return launched.EnsureAnswering(); }};
  const EncodableValue test = Map({{"requestId", EncodableValue("r1")}, {"nodeTags", EncodableValue(EncodableList{EncodableValue("B")})},
                                   {"runtimeConfig", EncodableValue(R"({"stand_in":{"fetch":{"B":{"fail":true}}}})")}});
  int events = 0;
  EXPECT_EQ(RunLatencyTest(Entries(test), [&](const std::string&, std::int32_t) { ++events; }, client),
            Map({{"B", EncodableValue(0)}}));
  EXPECT_EQ(events, 1);
  ASSERT_TRUE(launched.Holds());
  EXPECT_EQ(CancelLatencyTest(Entries(test), client), Map({{"status", EncodableValue("canceled")}}));
  std::string status;
  EXPECT_TRUE(QueryHelperStatus(transport, status) && status == "disconnected");
  launched.Close();
  EXPECT_FALSE(launched.Holds() || HelperAnswersPing(transport));
}

void StopService(HelperTransport& transport, bool remove) {
  const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  const UniqueServiceHandle service(::OpenServiceW(manager.Get(), kHelperServiceName, SERVICE_ALL_ACCESS));
  SERVICE_STATUS status = {};
  ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
  for (int i = 0; i < 100 && HelperAnswersPing(transport); ++i) ::Sleep(100);
  EXPECT_TRUE(!remove || ::DeleteService(service.Get()));
}

// Wine's service manager: a missing service is installed through "runas" and
// started; installed from another folder (and stopped), it is installed anew. The
// installed program is told by its file, whatever the letter case.
TEST(ProvisioningTest, RealServiceManagerInstallsStartsAndReinstalls) {
  testing::ProgramFolder first, second;
  Win32ProvisioningPlatform real;
  WinInetHelperTransport transport;
  std::wstring upper = first.helper();
  ::CharUpperW(upper.data());
  EXPECT_TRUE(real.IsSameFile(first.helper(), upper));
  EXPECT_FALSE(real.IsSameFile(first.helper(), second.helper()));

  std::string error;
  bool current = false;
  std::wstring installed;
  ASSERT_FALSE(QueryInstalledHelper(current, installed, error, {real, first.locations, transport}));
  ASSERT_TRUE(EnsureHelperReady(error, {real, first.locations, transport})) << error;
  EXPECT_TRUE(QueryInstalledHelper(current, installed, error, {real, first.locations, transport}));
  EXPECT_TRUE(current);
  StopService(transport, false);
  EXPECT_TRUE(EnsureHelperReady(error, {real, second.locations, transport})) << error;
  EXPECT_TRUE(QueryInstalledHelper(current, installed, error, {real, second.locations, transport}));
  EXPECT_TRUE(current);
  StopService(transport, true);
}

}  // namespace
}  // namespace pelno
