// The UI bridge: a loopback TCP port through which one client at a time plays the
// user interface (see bridge_frames.h for the frames). It runs one thread that
// accepts and reads, and answers kind 4 frames itself; replies and native
// messages may be sent from any thread.
#pragma once

#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/unique_handle.h"
#include "flutter/stand_in_engine/bridge_frames.h"

namespace pelno::stand_in {

// The port from PELNOVPN_UI_BRIDGE_PORT; nullopt (bridge off) when unset or not a
// decimal number in 1..65535.
std::optional<std::uint16_t> UiBridgePortFromEnvironment();

class UiBridge {
 public:
  // Called on the bridge thread for each kind 1 frame; `client` names the
  // connection the reply must go back to.
  using Receiver = std::function<void(ChannelMessage message, std::uint64_t client)>;

  // Listening on 127.0.0.1:port, or null when the port cannot be bound.
  // `receivedProperties` is the whole frame that answers each kind 4 frame.
  static std::unique_ptr<UiBridge> Start(std::uint16_t port, Receiver receiver,
                                         std::vector<std::uint8_t> receivedProperties);
  ~UiBridge();  // closes the sockets and joins the thread

  UiBridge(const UiBridge&) = delete;
  UiBridge& operator=(const UiBridge&) = delete;

  // Kind 2 frame to `client`; dropped when that client has gone.
  void SendReply(std::uint64_t client, std::uint32_t id, const std::uint8_t* data, std::size_t size);
  // Kind 3 frame to the current client; false when nobody is connected.
  bool SendNativeMessage(std::string_view channel, const std::uint8_t* data, std::size_t size);

 private:
  UiBridge(UniqueSocket listener, Receiver receiver, std::vector<std::uint8_t> receivedProperties);
  void Run();
  void Serve(SOCKET client, std::uint64_t generation);
  bool ReceiveExactly(SOCKET s, std::uint8_t* buffer, std::size_t size);
  // Waits until `s` is readable; false once the bridge stops.
  bool WaitReadable(SOCKET s);
  bool SendTo(std::uint64_t client, const std::vector<std::uint8_t>& frame);

  UniqueSocket listener_;
  Receiver receiver_;
  const std::vector<std::uint8_t> receivedProperties_;
  std::atomic<bool> stopping_{false};
  std::mutex sendLock_;  // guards client_ and generation_ and serialises writes
  SOCKET client_ = INVALID_SOCKET;
  std::uint64_t generation_ = 0;
  std::thread thread_;
};

}  // namespace pelno::stand_in
