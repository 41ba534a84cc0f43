// Whether this Windows program runs under Wine rather than on Windows.
#pragma once

namespace pelno {

// Asked of ntdll once per process (Wine exports wine_get_version there).
bool RunningUnderWine();

}  // namespace pelno
