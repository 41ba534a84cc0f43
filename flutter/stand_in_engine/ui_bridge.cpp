#include "flutter/stand_in_engine/ui_bridge.h"

#include <ws2tcpip.h>

#include <charconv>

#include "base/text_encoding.h"

namespace pelno::stand_in {
namespace {

// How often the bridge thread looks at its stop flag while it waits.
constexpr long kStopPollMicroseconds = 100'000;

bool SendAll(SOCKET s, const std::uint8_t* data, std::size_t size) {
  while (size > 0) {
    const int chunk = size > 1 << 20 ? 1 << 20 : static_cast<int>(size);
    const int sent = ::send(s, reinterpret_cast<const char*>(data), chunk, 0);
    if (sent <= 0) return false;
    data += sent;
    size -= static_cast<std::size_t>(sent);
  }
  return true;
}

}  // namespace

std::optional<std::uint16_t> UiBridgePortFromEnvironment() {
  wchar_t value[16];
  const DWORD length = ::GetEnvironmentVariableW(L"PELNOVPN_UI_BRIDGE_PORT", value, 16);
  if (length == 0 || length >= 16) return std::nullopt;
  const std::string text = WideToUtf8(std::wstring_view(value, length));
  unsigned port = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), port);
  if (error != std::errc() || end != text.data() + text.size() || port < 1 || port > 65535) return std::nullopt;
  return static_cast<std::uint16_t>(port);
}

std::unique_ptr<UiBridge> UiBridge::Start(std::uint16_t port, Receiver receiver,
                                          std::vector<std::uint8_t> receivedProperties) {
  WSADATA data;
  if (::WSAStartup(MAKEWORD(2, 2), &data) != 0) return nullptr;
  UniqueSocket listener(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(port);
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  BOOL exclusive = TRUE;
  if (!listener ||
      ::setsockopt(listener.Get(), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                   sizeof exclusive) != 0 ||
      ::bind(listener.Get(), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::listen(listener.Get(), 1) != 0) {
    listener.Reset();
    ::WSACleanup();
    return nullptr;
  }
  std::unique_ptr<UiBridge> bridge(
      new UiBridge(std::move(listener), std::move(receiver), std::move(receivedProperties)));
  bridge->thread_ = std::thread(&UiBridge::Run, bridge.get());
  return bridge;
}

UiBridge::UiBridge(UniqueSocket listener, Receiver receiver, std::vector<std::uint8_t> receivedProperties)
    : listener_(std::move(listener)),
      receiver_(std::move(receiver)),
      receivedProperties_(std::move(receivedProperties)) {}

UiBridge::~UiBridge() {
  stopping_ = true;
  if (thread_.joinable()) thread_.join();
  listener_.Reset();
  ::WSACleanup();
}

bool UiBridge::WaitReadable(SOCKET s) {
  while (!stopping_) {
    fd_set readable;
    FD_ZERO(&readable);
    FD_SET(s, &readable);
    timeval wait{0, kStopPollMicroseconds};
    const int ready = ::select(0, &readable, nullptr, nullptr, &wait);
    if (ready < 0) return false;
    if (ready > 0) return true;
  }
  return false;
}

void UiBridge::Run() {
  while (WaitReadable(listener_.Get())) {
    UniqueSocket client(::accept(listener_.Get(), nullptr, nullptr));
    if (!client) continue;
    std::uint64_t generation;
    {
      std::lock_guard lock(sendLock_);
      client_ = client.Get();
      generation = ++generation_;
    }
    Serve(client.Get(), generation);
    std::lock_guard lock(sendLock_);
    client_ = INVALID_SOCKET;
  }
}

bool UiBridge::ReceiveExactly(SOCKET s, std::uint8_t* buffer, std::size_t size) {
  while (size > 0) {
    if (!WaitReadable(s)) return false;
    const int chunk = size > 1 << 20 ? 1 << 20 : static_cast<int>(size);
    const int got = ::recv(s, reinterpret_cast<char*>(buffer), chunk, 0);
    if (got <= 0) return false;
    buffer += got;
    size -= static_cast<std::size_t>(got);
  }
  return true;
}

void UiBridge::Serve(SOCKET client, std::uint64_t generation) {
  std::uint8_t prefix[4];
  std::vector<std::uint8_t> frame;
  while (ReceiveExactly(client, prefix, 4)) {
    const std::uint32_t length = ReadLittleEndian32(prefix);
    if (length > kMaxFrameBytes) return;
    frame.resize(length);
    if (!ReceiveExactly(client, frame.data(), length)) return;
    if (length == 1 && frame[0] == kReceivedPropertiesKind) {
      SendTo(generation, receivedProperties_);
      continue;
    }
    // Frames of other kinds, or cut short, are not for the application: skipped.
    if (auto message = ParseChannelMessage(frame.data(), frame.size())) receiver_(std::move(*message), generation);
  }
}

bool UiBridge::SendTo(std::uint64_t client, const std::vector<std::uint8_t>& frame) {
  std::lock_guard lock(sendLock_);
  if (client_ == INVALID_SOCKET || (client != 0 && client != generation_) || frame.empty()) return false;
  return SendAll(client_, frame.data(), frame.size());
}

void UiBridge::SendReply(std::uint64_t client, std::uint32_t id, const std::uint8_t* data, std::size_t size) {
  SendTo(client, MakeReplyFrame(id, data, size));
}

bool UiBridge::SendNativeMessage(std::string_view channel, const std::uint8_t* data, std::size_t size) {
  return SendTo(0, MakeNativeMessageFrame(channel, data, size));
}

}  // namespace pelno::stand_in
