// Counts, for each program name given, its running processes and their threads,
// handles and memory as the system sees them (the tool-help snapshot's thread counts,
// the system handle table, which Wine keeps while GetProcessHandleCount gives 0
// there, and the working set), and prints one JSON object:
//   {"<name>":{"processes":N,"threads":N,"handles":N,"MiB":N},...}
// Not a shipped program.
//   pelno_bench_process_counts <name.exe>...
#include <windows.h>
#include <psapi.h>
#include <tlhelp32.h>

#include <winternl.h>

#include <cstdio>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

namespace {

std::wstring Lower(std::wstring text) {
  for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
  return text;
}

// SystemHandleInformation (16): one entry per open handle in the system.
struct HandleEntry {
  ULONG ownerPid;
  BYTE objectType, flags;
  USHORT value;
  PVOID object;
  ACCESS_MASK access;
};
struct HandleTable {
  ULONG count;
  HandleEntry entries[1];
};
constexpr auto kSystemHandleInformation = static_cast<SYSTEM_INFORMATION_CLASS>(16);

// Open handles per process id.
std::map<DWORD, unsigned long> HandlesByProcess() {
  std::vector<unsigned char> buffer(1 << 20);
  ULONG needed = 0;
  NTSTATUS status;
  while ((status = ::NtQuerySystemInformation(kSystemHandleInformation, buffer.data(),
                                              static_cast<ULONG>(buffer.size()), &needed)) ==
         static_cast<NTSTATUS>(0xC0000004L)) {  // STATUS_INFO_LENGTH_MISMATCH
    buffer.resize(std::max<std::size_t>(buffer.size() * 2, needed));
  }
  std::map<DWORD, unsigned long> handles;
  if (status < 0) return handles;
  const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
  for (ULONG i = 0; i < table->count; ++i) ++handles[table->entries[i].ownerPid];
  return handles;
}

struct Counts {
  unsigned long processes = 0, threads = 0, handles = 0;
  unsigned long long workingSetBytes = 0;
};

Counts CountProcesses(const std::wstring& name, const std::map<DWORD, unsigned long>& handles) {
  Counts counts;
  const HANDLE snapshot = ::CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return counts;
  PROCESSENTRY32W entry = {sizeof(entry)};
  for (BOOL more = ::Process32FirstW(snapshot, &entry); more; more = ::Process32NextW(snapshot, &entry)) {
    if (Lower(entry.szExeFile) != name) continue;
    ++counts.processes;
    counts.threads += entry.cntThreads;
    if (const auto found = handles.find(entry.th32ProcessID); found != handles.end())
      counts.handles += found->second;
    if (const HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID)) {
      PROCESS_MEMORY_COUNTERS memory = {sizeof(memory)};
      if (::GetProcessMemoryInfo(process, &memory, sizeof(memory))) counts.workingSetBytes += memory.WorkingSetSize;
      ::CloseHandle(process);
    }
  }
  ::CloseHandle(snapshot);
  return counts;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    std::fputs("usage: pelno_bench_process_counts name.exe...\n", stderr);
    return 2;
  }
  const std::map<DWORD, unsigned long> handles = HandlesByProcess();
  std::printf("{");
  for (int i = 1; i < argc; ++i) {
    const Counts c = CountProcesses(Lower(argv[i]), handles);
    std::printf("%s\"%ls\":{\"processes\":%lu,\"threads\":%lu,\"handles\":%lu,\"MiB\":%llu}",
                i > 1 ? "," : "", argv[i], c.processes, c.threads, c.handles, c.workingSetBytes >> 20);
  }
  std::printf("}\n");
  return 0;
}
