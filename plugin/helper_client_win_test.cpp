// The real paths of the helper's clients: WinINet against a scripted control port,
// the real helper program, and Wine's service manager.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>
#include <vector>

#include "base/testing/loopback_socket.h"
#include "base/text_encoding.h"
#include "engine/process_launcher.h"
#include "plugin/helper_client.h"
#include "plugin/helper_provisioning.h"
#include "plugin/latency_client.h"
#include "plugin/latency_stream.h"
#include "plugin/launched_helper_slot.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/program_folder.h"
#include "plugin/win32_helper_launcher.h"
#include "plugin/win32_helper_listener_platform.h"
#include "plugin/win32_provisioning_platform.h"
#include "plugin/wininet_helper_transport.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using testing::EncodableValue;
using testing::Entries;
using testing::Map;

// The helper's port held by a test: 127.0.0.1:17891 with a queue of `backlog`.
struct ControlPortListener {
  explicit ControlPortListener(int backlog) : socket(testing::ListenOnLoopback(port, "127.0.0.1", backlog)) {}
  testing::WinsockSession winsock;
  std::uint16_t port = kControlPort;
  UniqueSocket socket;
};

// The helper's control port for one exchange: reads the request to the end of
// `body`, then writes each piece and pauses after it for its time (kHold: the
// connection stays open and silent until Finish).
class ScriptedControlPort {
 public:
  struct Piece { std::string bytes; DWORD pauseMs = 0; };
  static constexpr DWORD kHold = INFINITE;

  ScriptedControlPort(std::string body, std::vector<Piece> script) {
    server_ = std::thread([this, body = std::move(body), script = std::move(script)] {
      const UniqueSocket connection(::accept(port_.socket.Get(), nullptr, nullptr));
      char buffer[8192];
      for (int got; !(request_.find("\r\n\r\n") != std::string::npos && request_.ends_with(body)) &&
                    (got = ::recv(connection.Get(), buffer, sizeof buffer, 0)) > 0;)
        request_.append(buffer, got);
      for (const Piece& piece : script) {
        ::send(connection.Get(), piece.bytes.data(), static_cast<int>(piece.bytes.size()), 0);
        if (piece.pauseMs == kHold) UniqueSocket(::accept(port_.socket.Get(), nullptr, nullptr));  // until Finish
        else ::Sleep(piece.pauseMs);
      }
    });
  }
  ~ScriptedControlPort() { Finish(); }
  // Waits for the script's end (an accept still waiting fails); the request as read.
  const std::string& Finish() {
    port_.socket.Reset();
    if (server_.joinable()) server_.join();
    return request_;
  }

 private:
  ControlPortListener port_{1};
  std::string request_;
  std::thread server_;
};

// Nothing listening fails at once; a reply's status is read and its body handed out
// in pieces of at most 4096 bytes as they arrive, not when the reply ends, for as long
// as each piece comes within the receive bound of the one before.
TEST(WinInetHelperTransportTest, FailsAtOnceWithoutListenerAndReadsRepliesAsTheyArrive) {
  WinInetHelperTransport transport({kHelperConnectTimeoutMs, kHelperSendTimeoutMs, 1500});
  const ULONGLONG start = ::GetTickCount64();
  EXPECT_EQ(transport.Send("GET", "/ping", "", kStepBoundsOnly), nullptr);
  EXPECT_LT(::GetTickCount64() - start, 3000u);

  // A 404 head and 6000 bytes at once, "late" 600 ms after.
  const std::string early(6000, 'a'), body = "{\"pad\":\"" + std::string(10000, 'x') + "\"}";
  ScriptedControlPort port(body, {{"HTTP/1.1 404 Not Found\r\nConnection: close\r\n\r\n" + early, 600}, {"late"}});
  const std::unique_ptr<HelperReply> reply = transport.Send("POST", "/start-tun", body, kStepBoundsOnly);
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

// A whole result line and the start of the next, then a pause: the first line's
// result is handed on at once, not when the next piece comes, however the head was
// written before it.
TEST(WinInetHelperTransportTest, LatencyLineGoesOutWithThePieceThatEndsIt) {
  WinInetHelperTransport transport;
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Type: application/x-ndjson\r\nConnection: close\r\n\r\n";
  const std::string first = R"({"nodeTag":"A","delayMs":5})" "\n" R"({"nodeTag":"B",)", rest = R"("delayMs":6})" "\n";
  const struct {
    const char* arrangement;
    std::vector<ScriptedControlPort::Piece> script;
  } cases[] = {
      {"head and line in one write", {{head + first, 1500}, {rest}}},
      {"head and line back to back", {{head, 0}, {first, 1500}, {rest}}},
      {"a pause between head and line", {{head, 300}, {first, 1500}, {rest}}},
  };
  const LatencyClient client{transport, [] { return true; }, [] { return true; }};
  const EncodableValue test = Map({{"nodeTags", EncodableValue(EncodableList{EncodableValue("A")})},
                                   {"runtimeConfig", EncodableValue("{}")}});
  for (const auto& c : cases) {
    ScriptedControlPort port(BuildUrlTestBody("", kDefaultTestUrl, {"A"}, "{}"), c.script);
    const ULONGLONG start = ::GetTickCount64();
    std::vector<std::pair<std::string, ULONGLONG>> events;  // tag, when
    RunLatencyTest(Entries(test), [&](const std::string& tag, std::int32_t) {
      events.emplace_back(tag, ::GetTickCount64() - start);
    }, client);
    ASSERT_EQ(events.size(), 2u) << c.arrangement;
    EXPECT_EQ(events[0].first + events[1].first, "AB") << c.arrangement;
    EXPECT_LT(events[0].second, 1000u) << c.arrangement;
    EXPECT_GE(events[1].second, 1400u) << c.arrangement;
  }
}

// A port that takes the request and never answers, one that answers a piece and falls
// silent, one that never takes the connection (its queue full, where Wine's WinINet
// waits for ever): each call ends within its bound.
TEST(WinInetHelperTransportTest, EveryWaitEndsWithinItsBound) {
  constexpr ULONGLONG kSlackMs = 3000;  // a loaded machine; without the bounds the calls wait for ever
  WinInetHelperTransport transport({200, 200, 500});
  ULONGLONG start = 0;
  const auto tookAtMost = [&start](ULONGLONG boundMs) { return ::GetTickCount64() - start <= boundMs + kSlackMs; };
  {
    ScriptedControlPort silent("", {{"", ScriptedControlPort::kHold}});
    std::string status;
    start = ::GetTickCount64();
    EXPECT_FALSE(QueryHelperStatus(transport, status));
    EXPECT_TRUE(tookAtMost(900)) << ::GetTickCount64() - start;
  }
  {
    const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
    ScriptedControlPort partial("", {{head + "piece", ScriptedControlPort::kHold}});
    const std::unique_ptr<HelperReply> reply = transport.Send("GET", "/partial", "", kStepBoundsOnly);
    std::string chunk;
    ASSERT_TRUE(reply && reply->ReadChunk(chunk) && chunk == "piece");
    start = ::GetTickCount64();
    EXPECT_FALSE(reply->ReadChunk(chunk));
    EXPECT_TRUE(tookAtMost(500)) << ::GetTickCount64() - start;
  }
  ControlPortListener full(1);
  std::vector<UniqueSocket> queued;
  const sockaddr_in address = testing::LoopbackAddress(kControlPort);
  for (int i = 0; i < 8; ++i) {
    queued.emplace_back(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    u_long nonBlocking = 1;
    ::ioctlsocket(queued.back().Get(), FIONBIO, &nonBlocking);
    ::connect(queued.back().Get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address));
  }
  ::Sleep(300);
  start = ::GetTickCount64();
  EXPECT_EQ(transport.Send("GET", "/ping", "", kStepBoundsOnly), nullptr);
  EXPECT_TRUE(tookAtMost(900)) << ::GetTickCount64() - start;
}

// One real helper: started hidden by a latency test (the stand-in engine measures),
// asked, then ended by the clean-up (the slot closing).
TEST(HelperClientTest, RealHelperStartedForLatencyAnswersAndIsEndedByTheCleanUp) {
  testing::ProgramFolder program(true);
  WinInetHelperTransport transport;
  const UniqueHandle job = CreateEngineJob();
  Win32HelperLauncher launcher(program.locations, job.Get());
  LaunchedHelperSlot launched(transport, launcher, 300);
  Win32HelperListenerPlatform listenerPlatform;
  HelperListenerCheck listener(listenerPlatform, launched);
  const LatencyClient client{transport, [&launched] { return launched.EnsureAnswering(); },
                             [&listener] {
                               return MaySendConfiguration(listener.Check(), ConfigurationTarget::kLatencyTest);
                             }};
  const EncodableValue test = Map({{"requestId", EncodableValue("r1")}, {"nodeTags", EncodableValue(EncodableList{EncodableValue("B")})},
                                   {"runtimeConfig", EncodableValue(R"({"stand_in":{"fetch":{"B":{"fail":true}}}})")}});
  int events = 0;
  EXPECT_EQ(RunLatencyTest(Entries(test), [&](const std::string&, std::int32_t) { ++events; }, client),
            Map({{"B", EncodableValue(0)}}));
  EXPECT_EQ(events, 1);
  ASSERT_EQ(launched.HeldHelperCount(), 1u);
  EXPECT_EQ(CancelLatencyTest(Entries(test), client), Map({{"status", EncodableValue("canceled")}}));
  std::string status;
  EXPECT_TRUE(QueryHelperStatus(transport, status) && status == "disconnected");
  launched.Close();
  EXPECT_FALSE(launched.HeldHelperCount() != 0 || HelperAnswersPing(transport));
}

constexpr char kHolderFolderVariable[] = "PELNO_HOLD_HELPER_FROM";

// Runs only as the child of the test below: starts the helper program of the folder
// it is given, as the application does, and holds it until it is killed.
TEST(LaunchedHelperHolder, HoldsAHelperUntilKilled) {
  const char* folder = std::getenv(kHolderFolderVariable);
  if (folder == nullptr) GTEST_SKIP() << "runs as the child of HelperEndsWithTheProcessThatStartedIt";
  const std::wstring base = Utf8ToWide(folder);
  testing::RelocatedLocationPlatform locations(base + L"\\PelnoVPN.exe", base + L"\\roaming");
  WinInetHelperTransport transport;
  const UniqueHandle job = CreateEngineJob();
  Win32HelperLauncher launcher(locations, job.Get());
  LaunchedHelperSlot launched(transport, launcher, 300);
  if (launched.EnsureAnswering()) ::Sleep(INFINITE);
}

// The process holding a started helper is killed without any clean-up (as a crash or
// the task manager would): the helper goes with it.
TEST(LaunchedHelperSlotTest, HelperEndsWithTheProcessThatStartedIt) {
  testing::ProgramFolder program;
  WinInetHelperTransport transport;
  wchar_t self[MAX_PATH] = {};
  ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  LaunchOptions options;
  options.commandLine = L"\"" + std::wstring(self) + L"\" --gtest_filter=LaunchedHelperHolder.*";
  options.environment = {{Utf8ToWide(kHolderFolderVariable), program.folder.path()}};
  LaunchedProcess holder;
  ASSERT_EQ(LaunchProcess(options, holder), 0u);
  bool answering = false;
  for (int i = 0; i < 300 && !(answering = HelperAnswersPing(transport)); ++i) ::Sleep(100);
  ASSERT_TRUE(answering);
  holder.TerminateAndWait(1, 5000);
  for (int i = 0; i < 50 && answering; ++i) answering = (::Sleep(100), HelperAnswersPing(transport));
  EXPECT_FALSE(answering);
}

void StopService(HelperTransport& transport, bool remove) {
  const UniqueServiceHandle manager(::OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
  const UniqueServiceHandle service(::OpenServiceW(manager.Get(), kHelperServiceName, SERVICE_ALL_ACCESS));
  SERVICE_STATUS status = {};
  ::ControlService(service.Get(), SERVICE_CONTROL_STOP, &status);
  for (int i = 0; i < 100 && HelperAnswersPing(transport); ++i) ::Sleep(100);
  // The port closes before the process has ended and the manager says so.
  for (int i = 0; i < 100 && ::QueryServiceStatus(service.Get(), &status) &&
                  status.dwCurrentState != SERVICE_STOPPED;
       ++i) {
    ::Sleep(100);
  }
  EXPECT_TRUE(!remove || ::DeleteService(service.Get()));
}

// Wine's service manager: a missing service is installed through "runas" and
// started. Wine reads every folder back as the user's, so the service runs the copy
// in Program Files, which counts as the helper of any folder with the same bytes
// until the engine beside it differs: then it is installed anew. The installed
// program is told by its file, whatever the letter case, or by its SHA-256. While
// it runs, its process id and its one listener on the port are found.
TEST(ProvisioningTest, RealServiceManagerInstallsStartsAndReinstalls) {
  testing::ProgramFolder first, second(true);
  Win32ProvisioningPlatform real;
  WinInetHelperTransport transport;
  std::wstring upper = first.helper();
  ::CharUpperW(upper.data());
  EXPECT_TRUE(real.IsSameFile(first.helper(), upper));
  EXPECT_FALSE(real.IsSameFile(first.helper(), second.helper()));
  std::string digest, hex;
  ASSERT_TRUE(testing::WriteFileBytes(first.folder / L"abc", "abc"));
  ASSERT_TRUE(real.FileSha256(first.folder / L"abc", digest));
  for (const unsigned char byte : digest) hex += "0123456789abcdef"[byte >> 4], hex += "0123456789abcdef"[byte & 15];
  EXPECT_EQ(hex, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
  EXPECT_FALSE(real.FileSha256(first.folder / L"missing", digest));

  std::string error;
  bool current = false;
  std::wstring installed;
  ASSERT_FALSE(QueryInstalledHelper(current, installed, error, {real, first.locations, transport}));
  ASSERT_TRUE(EnsureHelperReady(error, {real, first.locations, transport})) << error;
  EXPECT_TRUE(QueryInstalledHelper(current, installed, error, {real, first.locations, transport}));
  EXPECT_TRUE(current);
  EXPECT_EQ(installed, L"C:\\Program Files\\PelnoVPN\\Service\\PelnoVpnHelperService.exe");
  Win32HelperListenerPlatform listener;
  std::vector<std::uint32_t> owners;
  EXPECT_NE(listener.ServiceProcessId(), 0u);
  EXPECT_TRUE(listener.ListenerOwners(kControlPort, owners) && owners.size() == 1);
  StopService(transport, false);
  EXPECT_EQ(listener.ServiceProcessId(), 0u);
  EXPECT_TRUE(listener.ListenerOwners(kControlPort, owners) && owners.empty());
  EXPECT_TRUE(QueryInstalledHelper(current, installed, error, {real, second.locations, transport}));
  EXPECT_FALSE(current);  // its engine is not beside the copy
  EXPECT_TRUE(EnsureHelperReady(error, {real, second.locations, transport})) << error;
  EXPECT_TRUE(QueryInstalledHelper(current, installed, error, {real, second.locations, transport}));
  EXPECT_TRUE(current);
  StopService(transport, true);
}

}  // namespace
}  // namespace pelno
