// The helper's one process-wide session: its engine slot and saved proxy settings,
// and the operations behind "/start", "/start-tun", "/stop" and "/status".
#pragma once

#include <string>
#include <string_view>

#include "helper/session_controller.h"

namespace pelno {

SessionController& HelperSession();

std::string StartProxySession(std::string_view configText);
std::string StartTunSession(std::string_view configText);
std::string StopSession();
std::string GetSessionStatus();

}  // namespace pelno
