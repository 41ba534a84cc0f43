// Where the build put the stand-in engine (tools/stand_in_engine) for tests that
// launch it: the test target defines PELNO_STAND_IN_ENGINE_EXE.
#pragma once

#include <string>

namespace pelno::testing {

// The build gives the stand-in's path as the host sees it; Wine shows the host's
// root as drive Z:. Empty when the build has no stand-in.
inline std::wstring StandInEnginePath() {
  const std::string host = PELNO_STAND_IN_ENGINE_EXE;
  std::wstring path;
  if (!host.empty() && host[0] == '/') path = L"Z:";
  for (const char c : host) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

}  // namespace pelno::testing
