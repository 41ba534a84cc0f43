// The per-user Windows system proxy: save the user's settings once, point the
// proxy at the engine, put the user's settings back.
#pragma once

#include <cstdint>
#include <string>

namespace pelno {

struct SavedProxySettings {
  bool saved = false;
  std::uint32_t proxyEnable = 0;
  std::wstring proxyServer;
  std::wstring proxyOverride;
};

bool SaveSystemProxy(SavedProxySettings& saved, std::string& error);
bool EnableSystemProxy(SavedProxySettings& saved, std::int32_t port, std::string& error);
bool RestoreSystemProxy(SavedProxySettings& saved, std::string& error);

}  // namespace pelno
