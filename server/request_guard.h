// Who may talk to the control port. The port is reachable by every local process
// and every web page the user opens, so requests that a browser marks as coming
// from a page (Origin) or that name a foreign host (DNS rebinding) are refused.
#pragma once

#include <string_view>

namespace pelno {

// True for "127.0.0.1" and "localhost" (any letter case), each with or without
// a decimal port; blanks around the value are ignored.
bool IsLoopbackHost(std::string_view hostValue);

// False when the block carries an Origin header or a Host header that names
// anything but the loopback host. A request without Host is allowed.
bool IsRequestAllowed(std::string_view headerBlock);

}  // namespace pelno
