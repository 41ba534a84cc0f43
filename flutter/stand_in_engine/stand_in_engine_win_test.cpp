// The stand-in engine library's messenger through its exported C functions, as the
// client wrapper calls them. (Views need a display: the desktop test covers them.)
#include <windows.h>

#include <gtest/gtest.h>

#include "flutter/flutter_windows.h"

namespace {

FlutterDesktopEngineRef NewEngine() {
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = L"data\\flutter_assets";
  properties.icu_data_path = L"data\\icudtl.dat";
  properties.aot_library_path = L"data\\app.so";
  return FlutterDesktopEngineCreate(&properties);
}

TEST(StandInEngine, AReferencedMessengerOutlivesItsEngineAndDropsWhatIsSentLater) {
  FlutterDesktopEngineRef engine = NewEngine();
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
  struct Replies {
    int count = 0;
    size_t size = 1;
  } replies;
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
