// The helper's control API: every endpoint's method, path, content type and
// handler, in matching order.
#pragma once

#include "server/route_dispatch.h"

namespace pelno {

class LogJournal;
class SessionController;

// The route table over the program's session and journal, which must outlive it.
RouteTable MakeControlApiRoutes(SessionController& session, LogJournal& journal);

}  // namespace pelno
