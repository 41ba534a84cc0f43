// Before the application sends a configuration (it carries the user's node
// credentials) to 127.0.0.1:17891, it makes sure the program listening there is the
// helper: the helper service's process, or for a latency test also a helper program
// the application started itself. Another user's program could hold the port while
// the service is stopped, and a helper started here has only the user's rights, so
// the TUN configuration goes to the service alone (under Wine, where owners are
// unknown, the controller ends the helpers started here before it is sent).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "engine/engine_contract.h"
#include "plugin/launched_helper.h"

namespace pelno {

// "Another program is listening on 127.0.0.1:17891"
inline constexpr auto kOtherListenerMessage =
    constant_text::Join("Another program is listening on ", kControlAddressText);
inline constexpr char kHelperCheckUnavailableNote[] = "Helper check unavailable: socket owners are unknown";

// The socket table and the service manager as the check needs them. A seam, so that
// owners Wine never reports are given by a fake; Win32HelperListenerPlatform
// (plugin/win32_helper_listener_platform.h) is the real one.
class HelperListenerPlatform {
 public:
  virtual ~HelperListenerPlatform() = default;
  // The owner process ids of the IPv4 TCP listeners that take connections to
  // 127.0.0.1:`port` (bound to 127.0.0.1 or to every address); false when the table
  // can't be read.
  virtual bool ListenerOwners(std::uint16_t port, std::vector<std::uint32_t>& owners) = 0;
  // The helper service's process id while it runs; 0 otherwise.
  virtual std::uint32_t ServiceProcessId() = 0;
  // Wine gives every socket's owner as process id 0.
  virtual bool UnderWine() = 0;
  // One line on the application's debug console.
  virtual void Note(std::string_view line) = 0;
};

// What is known about the listener when a configuration is about to be sent.
struct ListenerFacts {
  bool tableRead = false;
  std::vector<std::uint32_t> owners;  // of the listeners that take 127.0.0.1:17891
  std::uint32_t serviceProcessId = 0;
  std::vector<std::uint32_t> launchedProcessIds;
  bool underWine = false;
};

enum class ListenerVerdict {
  kService,         // sent
  kLaunchedHelper,  // sent for a latency test only (the service may listen beside it)
  kUnchecked,       // sent: Wine can't tell the owner
  kOtherProgram,    // refused: a process that is neither
  kOwnerUnknown,    // refused: owner id 0 on Windows, or the table unreadable
  kNoListener,      // refused: nothing listens any more
};

// What a configuration is for.
enum class ConfigurationTarget { kLatencyTest, kTun };

// Every listener that could take the connection must be the helper's.
ListenerVerdict JudgeHelperListener(const ListenerFacts& facts);
bool MaySendConfiguration(ListenerVerdict verdict, ConfigurationTarget target);

// The check as the plug-in runs it; says once on the debug console when Wine leaves
// it unchecked.
class HelperListenerCheck {
 public:
  HelperListenerCheck(HelperListenerPlatform& platform, LaunchedHelper& launched)
      : platform_(platform), launched_(launched) {}

  ListenerVerdict Check();

 private:
  HelperListenerPlatform& platform_;
  LaunchedHelper& launched_;
  std::atomic<bool> saidUnchecked_{false};
};

}  // namespace pelno
