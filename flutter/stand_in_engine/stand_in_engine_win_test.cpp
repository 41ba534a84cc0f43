// The stand-in engine library through its exported C functions, as the client
// wrapper calls them. (Views need a display: the desktop test covers them.)
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "base/testing/loopback_socket.h"
#include "flutter/flutter_engine.h"
#include "flutter/flutter_windows.h"

namespace {

// Sends the UI bridge a kind 4 frame and returns the body of its answer.
std::string AskReceivedProperties(std::uint16_t port) {
  const pelno::UniqueSocket client = pelno::testing::ConnectToLoopback(port);
  const char request[] = {1, 0, 0, 0, 4};
  if (!client || ::send(client.Get(), request, sizeof request, 0) != sizeof request) return "no bridge";
  std::string frame;
  std::size_t wanted = 4;  // the length prefix, then the whole frame
  char buffer[4096];
  while (frame.size() < wanted) {
    const int got = ::recv(client.Get(), buffer, sizeof buffer, 0);
    if (got <= 0) return "cut short: " + frame;
    frame.append(buffer, got);
    if (frame.size() >= 4) {
      std::uint32_t length = 0;
      std::memcpy(&length, frame.data(), 4);  // little-endian, as x64
      wanted = 4 + std::size_t{length};
    }
  }
  return frame[4] == 4 ? frame.substr(5) : "kind " + std::to_string(frame[4]);
}

TEST(StandInEngine, TheUiBridgeReportsWhatTheWrapperGaveCreateAndRun) {
  const pelno::testing::WinsockSession winsock;
  ASSERT_TRUE(winsock.started);
  std::uint16_t port = 0;
  ASSERT_TRUE(pelno::testing::ListenOnLoopback(port));  // closed again: a port nobody listens on now
  ::SetEnvironmentVariableW(L"PELNOVPN_UI_BRIDGE_PORT", std::to_wstring(port).c_str());

  flutter::DartProject project(L"bundle");
  project.set_dart_entrypoint("customMain");
  project.set_dart_entrypoint_arguments({"--flag", "two words", "\xC3\xA9"});
  project.set_gpu_preference(flutter::GpuPreference::HighPerformancePreference);
  project.set_ui_thread_policy(flutter::UIThreadPolicy::RunOnSeparateThread);
  {
    flutter::FlutterEngine engine(project);
    ASSERT_TRUE(engine.Run());
    EXPECT_EQ(AskReceivedProperties(port),
              R"({"assets_path":"bundle\\flutter_assets","icu_data_path":"bundle\\icudtl.dat",)"
              R"("aot_library_path":"bundle\\app.so","dart_entrypoint":"customMain",)"
              R"("dart_entrypoint_argv":["--flag","two words",")" "\xC3\xA9" R"("],"gpu_preference":2,)"
              R"("ui_thread_policy":2,"run_entry_point":null})");
  }
  // The real engine refuses a second, different entry point at run.
  ::SetEnvironmentVariableW(L"PELNOVPN_UI_BRIDGE_PORT", nullptr);
  flutter::FlutterEngine engine(project);
  EXPECT_FALSE(engine.Run("otherMain"));
}

TEST(StandInEngine, AReferencedMessengerOutlivesItsEngineAndDropsWhatIsSentLater) {
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = L"data\\flutter_assets";
  properties.icu_data_path = L"data\\icudtl.dat";
  properties.aot_library_path = L"data\\app.so";
  FlutterDesktopEngineRef engine = FlutterDesktopEngineCreate(&properties);
  FlutterDesktopMessengerRef messenger = FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));
  // The lock may be taken again by its holder, as a locked send does.
  ASSERT_EQ(FlutterDesktopMessengerLock(messenger), messenger);
  FlutterDesktopMessengerLock(messenger);
  FlutterDesktopMessengerUnlock(messenger);
  FlutterDesktopMessengerUnlock(messenger);

  EXPECT_TRUE(FlutterDesktopEngineDestroy(engine));
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  const uint8_t bytes[] = {0, 0};
  EXPECT_FALSE(FlutterDesktopMessengerSend(messenger, "late", bytes, 2));
  struct Replies { int count = 0; size_t size = 1; } replies;
  FlutterDesktopMessengerSendWithReply(
      messenger, "late", bytes, 2,
      [](const uint8_t*, size_t size, void* data) {
        auto* seen = static_cast<Replies*>(data);
        ++seen->count;
        seen->size = size;
      },
      &replies);
  EXPECT_EQ(replies.count, 1);  // answered once, with no bytes
  EXPECT_EQ(replies.size, 0u);
  FlutterDesktopMessengerSetCallback(messenger, "late", nullptr, nullptr);
  FlutterDesktopMessengerRelease(messenger);
}

}  // namespace
