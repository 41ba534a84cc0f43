// Makes sure the privileged helper service answers before a TUN connect: installed
// from the program next to the application (elevated when needed), started, ready.
#pragma once

#include <cstdint>
#include <string>

#include "engine/data_locations.h"
#include "plugin/helper_transport.h"
#include "plugin/provisioning_platform.h"

namespace pelno {

inline constexpr int kReadinessRounds = 50;
inline constexpr int kServiceStartRounds = 50;
inline constexpr std::uint32_t kProvisioningPollMs = 100;
inline constexpr std::uint32_t kInstallerWaitMs = 60000;

// The platforms the provisioning works on. Every operation that fails writes its
// message to `error`; success leaves it.
struct Provisioning {
  ProvisioningPlatform& platform;
  LocationPlatform& locations;
  HelperTransport& helper;
};

// A helper answering "pong" is used as it is; otherwise the service is installed
// when missing, unreadable or not current (QueryInstalledHelper), started (after a
// reinstall when starting was refused for lack of rights), and waited for.
bool EnsureHelperReady(std::string& error, const Provisioning& with);

// True when the service exists and its configuration could be read; `current` says
// whether it runs the helper program this application would install: that file, or
// a copy with its bytes and, where the application has sing-box.exe, that engine's
// bytes in sing-box.exe beside it.
bool QueryInstalledHelper(bool& current, std::wstring& installedPath, std::string& error,
                          const Provisioning& with);

// Runs "<helper> --install-service" elevated ("runas"); true when it exited with 0.
bool InstallHelperService(std::string& error, const Provisioning& with);

// True once the service reports SERVICE_RUNNING (already running, or after a start).
bool StartHelperService(std::string& error, const Provisioning& with);

}  // namespace pelno
