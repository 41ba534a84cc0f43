// The fetch command through a "direct" outbound: one real HTTP GET.
#pragma once

#include <string>

namespace pelno {

// GETs an http:// URL with "Connection: close"; true on a 2xx status. On failure
// `error` says why (connection, protocol or the status code). Winsock must be started.
bool DirectFetch(const std::string& url, std::string& error);

}  // namespace pelno
