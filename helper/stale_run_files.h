// Configuration files of latency-test runs ("sing-box-urltest-<pid>-<run>.json")
// that a helper killed during a run left in its data directory.
#pragma once

#include <string>
#include <string_view>

namespace pelno {

// The name of such a file, exactly as the helper writes it.
bool IsUrlTestRunFileName(std::wstring_view name);

// Deletes every file in `directory` whose name is a run file's; nothing else, no
// folder. Run only while no run can be active: at start, once this process alone
// holds the control port and before it serves.
void RemoveStaleUrlTestFiles(const std::wstring& directory);

}  // namespace pelno
