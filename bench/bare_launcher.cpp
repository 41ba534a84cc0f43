// The floor of the URL test benchmark: starts the same fetch commands the helper
// starts, without a console as the helper does, `workers` at a time, with nothing
// else (no pipe, no job, no registry), and prints
// {"wallMs":N,"waitEnds":{"<tag>":<unix us>,...}} once all have ended:
// the wall time, and when each engine's wait ended (the floor of the way from an
// engine's exit to its result). Not a shipped program.
//   pelno_bench_bare_launcher <engine> <config> <url> <nodes> <workers> <tag prefix>
#include <windows.h>

#include <atomic>
#include <mutex>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

int wmain(int argc, wchar_t** argv) {
  if (argc != 7) {
    std::fputs("usage: pelno_bench_bare_launcher engine config url nodes workers prefix\n", stderr);
    return 2;
  }
  const std::wstring engine = argv[1], config = argv[2], url = argv[3], prefix = argv[6];
  // The engine runs in the configuration's folder, as the helper runs it in the data directory.
  const std::wstring folder = config.substr(0, config.find_last_of(L'\\'));
  const int nodes = std::stoi(argv[4]);
  const int workers = std::stoi(argv[5]);
  std::atomic<int> next{0};
  std::mutex endsLock;
  std::vector<std::pair<int, unsigned long long>> ends;
  const auto measure = [&] {
    for (int i = next++; i < nodes; i = next++) {
      std::wstring line = L"\"" + engine + L"\" --disable-color -c \"" + config + L"\" tools -o \"" +
                          prefix + std::to_wstring(i) + L"\" fetch \"" + url + L"\"";
      STARTUPINFOW startup = {sizeof(startup)};
      PROCESS_INFORMATION info = {};
      if (!::CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, DETACHED_PROCESS,
                            nullptr, folder.c_str(), &startup, &info)) {
        continue;
      }
      ::WaitForSingleObject(info.hProcess, INFINITE);
      FILETIME now{};
      ::GetSystemTimePreciseAsFileTime(&now);
      const unsigned long long ticks = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) |
                                       now.dwLowDateTime;
      {
        std::lock_guard lock(endsLock);
        ends.emplace_back(i, (ticks - 116444736000000000ull) / 10);  // since 1970, in us
      }
      ::CloseHandle(info.hThread);
      ::CloseHandle(info.hProcess);
    }
  };
  const auto start = std::chrono::steady_clock::now();
  std::vector<std::thread> threads;
  for (int w = 0; w < workers; ++w) threads.emplace_back(measure);
  for (std::thread& t : threads) t.join();
  const auto wall = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start);
  std::printf("{\"wallMs\":%.1f,\"waitEnds\":{", wall.count());
  for (std::size_t k = 0; k < ends.size(); ++k) {
    std::printf("%s\"%ls%d\":%llu", k == 0 ? "" : ",", prefix.c_str(), ends[k].first, ends[k].second);
  }
  std::printf("}}\n");
  return 0;
}
