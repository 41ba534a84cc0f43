// From the helper writing a latency line to the event reaching the messenger: a
// responder on 127.0.0.1:17891 writes one result line every 100 ms and notes the
// moment; the plug-in host, on the in-process messenger, streams the events; the
// delay of each is printed as p50 / p90 / max.
#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "flutter/binary_messenger_impl.h"
#include "flutter/standard_method_codec.h"
#include "flutter/testing/fake_messenger.h"
#include "engine/process_launcher.h"
#include "engine/win32_location_platform.h"
#include "engine/win32_proxy_settings_platform.h"
#include "plugin/application_session_runtime.h"
#include "plugin/launched_helper_slot.h"
#include "plugin/vpn_plugin_host.h"
#include "plugin/win32_helper_launcher.h"
#include "plugin/win32_helper_listener_platform.h"
#include "plugin/win32_local_traffic_source.h"
#include "plugin/win32_provisioning_platform.h"
#include "plugin/wininet_helper_transport.h"

namespace {

constexpr int kLines = 60;
constexpr DWORD kLineGapMs = 100;

double Now() {
  LARGE_INTEGER counter, frequency;
  ::QueryPerformanceCounter(&counter);
  ::QueryPerformanceFrequency(&frequency);
  return 1000.0 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

std::vector<double> g_written(kLines);

void Serve(SOCKET connection) {
  std::string request;
  char buffer[4096];
  while (request.find("\r\n\r\n") == std::string::npos) {
    const int got = ::recv(connection, buffer, sizeof(buffer), 0);
    if (got <= 0) break;
    request.append(buffer, got);
  }
  const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
  if (request.rfind("GET /ping", 0) == 0) {
    const std::string reply = head + "pong";
    ::send(connection, reply.data(), static_cast<int>(reply.size()), 0);
  } else if (request.rfind("POST /urltest", 0) == 0) {
    ::send(connection, head.data(), static_cast<int>(head.size()), 0);
    for (int i = 0; i < kLines; ++i) {
      ::Sleep(kLineGapMs);
      const std::string line = "{\"nodeTag\":\"n" + std::to_string(i) + "\",\"delayMs\":" + std::to_string(i) + "}\n";
      g_written[i] = Now();
      ::send(connection, line.data(), static_cast<int>(line.size()), 0);
    }
  }
  ::shutdown(connection, SD_SEND);
  ::closesocket(connection);
}

}  // namespace

int main() {
  WSADATA data;
  ::WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = ::htons(17891);
  address.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || ::listen(listener, 16) != 0) {
    std::fprintf(stderr, "port 17891 is taken\n");
    return 1;
  }
  std::thread acceptor([listener] {
    for (SOCKET c; (c = ::accept(listener, nullptr, nullptr)) != INVALID_SOCKET;) std::thread(Serve, c).detach();
  });

  using flutter::EncodableValue;
  flutter::testing::FakeMessenger fake;
  flutter::BinaryMessengerImpl messenger(fake.messenger());
  pelno::Win32LocationPlatform locations;
  pelno::Win32ProxySettingsPlatform proxySettings;
  const pelno::UniqueHandle engineJob = pelno::CreateEngineJob();
  pelno::ApplicationSessionRuntime engine(locations, proxySettings, engineJob.Get());
  pelno::Win32ProvisioningPlatform provisioning;
  pelno::WinInetHelperTransport helper;
  pelno::Win32HelperLauncher helperLauncher(locations, engineJob.Get());
  pelno::LaunchedHelperSlot launchedHelper(helper, helperLauncher, pelno::kHelperStartRounds);
  pelno::Win32LocalTrafficSource localTraffic;
  pelno::Win32HelperListenerPlatform helperListener;
  auto host = std::make_unique<pelno::VpnPluginHost>(
      &messenger, pelno::PluginEnvironment{locations, engine, provisioning, helper, launchedHelper, localTraffic,
                                           helperListener});
  const auto& codec = flutter::StandardMethodCodec::GetInstance();
  fake.Deliver(pelno::kLatencyEventChannelName,
               *codec.EncodeMethodCall(flutter::MethodCall<EncodableValue>("listen", nullptr)));
  flutter::EncodableList tags;
  for (int i = 0; i < kLines; ++i) tags.emplace_back(EncodableValue("n" + std::to_string(i)));
  auto arguments = std::make_unique<EncodableValue>(flutter::EncodableMap{
      {EncodableValue("runtimeConfig"), EncodableValue("{}")}, {EncodableValue("nodeTags"), EncodableValue(tags)}});
  const int call = fake.Deliver(pelno::kMethodChannelName,
                                *codec.EncodeMethodCall(flutter::MethodCall<EncodableValue>("testNodeDelays", std::move(arguments))));

  std::vector<double> arrived;
  while (arrived.size() < static_cast<std::size_t>(kLines)) {
    const std::size_t sent = fake.Sent().size();
    while (arrived.size() < sent) arrived.push_back(Now());
    if (fake.ResponseCount(call) > 0 && fake.Sent().size() == arrived.size()) break;
    std::this_thread::yield();
  }
  std::vector<double> delays;
  for (std::size_t i = 0; i < arrived.size(); ++i) delays.push_back(arrived[i] - g_written[i]);
  std::sort(delays.begin(), delays.end());
  const auto at = [&delays](double q) { return delays[static_cast<std::size_t>(q * (delays.size() - 1))]; };
  std::printf("latency line -> event at the messenger, %zu lines %lu ms apart: p50 %.2f ms, p90 %.2f ms, max %.2f ms\n",
              delays.size(), kLineGapMs, at(0.5), at(0.9), delays.back());
  host.reset();
  ::closesocket(listener);
  acceptor.join();
  return delays.size() == static_cast<std::size_t>(kLines) ? 0 : 1;
}
