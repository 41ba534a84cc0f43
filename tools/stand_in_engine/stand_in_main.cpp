// pelno-stand-in-engine: a test program that takes the outside engine's place
// (copied as "sing-box.exe") and honours its command lines, exit codes, proxy
// inbound and controller API. See README.md for the configuration keys.
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include <algorithm>
#include <string>
#include <vector>

#include "base/unique_handle.h"
#include "tools/stand_in_engine/controller_api.h"
#include "tools/stand_in_engine/direct_fetch.h"
#include "tools/stand_in_engine/engine_command.h"
#include "tools/stand_in_engine/process_facts.h"
#include "tools/stand_in_engine/proxy_inbound.h"
#include "tools/stand_in_engine/socket_io.h"
#include "tools/stand_in_engine/stand_in_config.h"
#include "base/text_encoding.h"

namespace pelno {
namespace {

constexpr int kExitFailure = 1;
constexpr int kExitUsage = 2;
// Larger configuration files are refused.
constexpr LONGLONG kMaxConfigBytes = 64ll * 1024 * 1024;
// `"<exe>" --stand-in-output-holder <ms>`: the process that "output_holder_ms" starts.
constexpr wchar_t kOutputHolderArgument[] = L"--stand-in-output-holder";

// Relays and the controller use it until the process ends. The run command ends
// only through ExitProcess or termination, so no destructor races their threads.
TrafficMeter& Meter() {
  static TrafficMeter meter;
  return meter;
}

// Writes everything unless the handle is missing. A reader that never reads
// blocks this write, and with it the exit that follows.
void WriteToStd(DWORD which, std::string_view text) {
  HANDLE h = GetStdHandle(which);
  if (h == nullptr || h == INVALID_HANDLE_VALUE) return;
  while (!text.empty()) {
    DWORD written = 0;
    DWORD chunk = static_cast<DWORD>(std::min<size_t>(text.size(), 1 << 20));
    if (!WriteFile(h, text.data(), chunk, &written, nullptr) || written == 0) return;
    text.remove_prefix(written);
  }
}

void Complain(const std::string& message) {
  WriteToStd(STD_ERROR_HANDLE, "stand-in engine: " + message + "\n");
}

std::vector<std::string> ArgumentsUtf8() {
  std::vector<std::string> args;
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return args;
  for (int i = 0; i < count; ++i) args.push_back(WideToUtf8(wide[i]));
  LocalFree(wide);
  return args;
}

// Starts a copy of this program that keeps the standard output and error open for
// `ms` milliseconds. It is a child of this process (so in its job), nothing else.
void StartOutputHolder(int64_t ms) {
  std::wstring self(MAX_PATH, L'\0');
  self.resize(GetModuleFileNameW(nullptr, self.data(), MAX_PATH));
  std::wstring line = L"\"" + self + L"\" " + kOutputHolderArgument + L" " + std::to_wstring(ms);
  STARTUPINFOW startup = {sizeof(startup)};
  startup.dwFlags = STARTF_USESTDHANDLES;
  UniqueHandle output, error;
  for (auto [which, copy] : {std::pair{STD_OUTPUT_HANDLE, &output}, std::pair{STD_ERROR_HANDLE, &error}}) {
    DuplicateHandle(GetCurrentProcess(), GetStdHandle(which), GetCurrentProcess(), copy->Receive(), 0,
                    TRUE, DUPLICATE_SAME_ACCESS);
  }
  startup.hStdOutput = output.Get();
  startup.hStdError = error.Get();
  PROCESS_INFORMATION info = {};
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, TRUE, DETACHED_PROCESS, nullptr, nullptr,
                      &startup, &info)) {
    Complain("cannot start the output holder: error " + std::to_string(GetLastError()));
    return;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
}

bool ReadConfigFile(const std::string& path, std::string& text, std::string& error) {
  std::wstring wide = Utf8ToWide(path);
  UniqueHandle file(CreateFileW(wide.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    error = "cannot open configuration \"" + path + "\": error " + std::to_string(GetLastError());
    return false;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart > kMaxConfigBytes) {
    error = "configuration \"" + path + "\" is unreadable or too large";
    return false;
  }
  text.assign(static_cast<size_t>(size.QuadPart), '\0');
  size_t done = 0;
  while (done < text.size()) {
    DWORD got = 0;
    if (!ReadFile(file.Get(), text.data() + done, static_cast<DWORD>(text.size() - done), &got,
                  nullptr)) {
      error = "cannot read configuration \"" + path + "\": error " + std::to_string(GetLastError());
      return false;
    }
    if (got == 0) break;
    done += got;
  }
  text.resize(done);
  return true;
}

int RunFetch(const EngineCommand& command, const StandInConfig& config) {
  auto scripted = config.script.fetch.find(command.outbound_tag);
  if (scripted != config.script.fetch.end()) {
    Sleep(static_cast<DWORD>(scripted->second.delay_ms));
    if (scripted->second.fail)
      Complain("fetch through \"" + command.outbound_tag + "\" failed (scripted)");
    std::string error;
    if (!config.script.fetch_end_file.empty() &&
        !AppendRecordLine(config.script.fetch_end_file,
                          command.outbound_tag + "\t" + std::to_string(UnixTimeMicroseconds()) + "\n",
                          error)) {
      Complain(error);
    }
    return scripted->second.fail ? kExitFailure : 0;
  }
  auto outbound = config.outbound_types.find(command.outbound_tag);
  if (outbound == config.outbound_types.end()) {
    Complain("outbound not found: " + command.outbound_tag);
    return kExitFailure;
  }
  if (outbound->second != "direct") {
    Complain("outbound \"" + command.outbound_tag + "\" of type \"" + outbound->second +
             "\" cannot fetch in the stand-in engine");
    return kExitFailure;
  }
  WinsockSession winsock;
  if (!winsock.ok()) {
    Complain(SocketError("WSAStartup", winsock.error()));
    return kExitFailure;
  }
  std::string error;
  if (!DirectFetch(command.url, error)) {
    Complain("fetch " + command.url + ": " + error);
    return kExitFailure;
  }
  WriteToStd(STD_OUTPUT_HANDLE, "fetched " + command.url + "\n");
  return 0;
}

[[noreturn]] void RunEngine(const StandInConfig& config) {
  const StandInScript& script = config.script;
  if (script.exit_code && !script.exit_after_ms) ExitProcess(*script.exit_code);
  // Started for the rest of the process: this function never returns.
  WinsockSession winsock;
  if (!winsock.ok()) {
    Complain(SocketError("WSAStartup", winsock.error()));
    ExitProcess(kExitFailure);
  }
  std::string error;
  if (config.controller && !StartControllerApi(*config.controller, Meter(), error)) {
    Complain("controller API: " + error);
    ExitProcess(kExitFailure);
  }
  for (const ListenEndpoint& inbound : config.proxy_inbounds) {
    if (!StartProxyInbound(inbound, Meter(), error)) {
      Complain("inbound: " + error);
      ExitProcess(kExitFailure);
    }
  }
  if (!StartRateSampler(Meter())) {
    Complain("cannot start the rate sampler");
    ExitProcess(kExitFailure);
  }
  if (script.exit_after_ms) {
    Sleep(static_cast<DWORD>(*script.exit_after_ms));
    ExitProcess(script.exit_code.value_or(kExitFailure));
  }
  // Like the real engine: runs until it is terminated.
  while (true) Sleep(INFINITE);
}

int Main() {
  // First, before this process opens anything of its own.
  std::vector<uint64_t> inheritable = InheritableHandleValues();
  std::vector<std::string> argv = ArgumentsUtf8();
  if (argv.size() == 3 && Utf8ToWide(argv[1]) == kOutputHolderArgument) {
    Sleep(static_cast<DWORD>(std::stoul(argv[2])));
    return 0;
  }
  EngineCommand command =
      ParseEngineCommand(argv.size() > 1 ? std::vector<std::string>(argv.begin() + 1, argv.end())
                                         : std::vector<std::string>());
  if (command.kind == EngineCommand::Kind::kUsage) {
    WriteToStd(STD_ERROR_HANDLE, std::string(kStandInUsage) + "\n");
    return kExitUsage;
  }
  std::string text, error;
  StandInConfig config;
  if (!ReadConfigFile(command.config_path, text, error)) {
    Complain(error);
    return kExitFailure;
  }
  if (!ParseStandInConfig(text, config, error)) {
    Complain("invalid configuration \"" + command.config_path + "\": " + error);
    return kExitFailure;
  }
  bool fetch = command.kind == EngineCommand::Kind::kFetch;
  if (!config.script.record_file.empty()) {
    LaunchRecord record =
        CollectLaunchRecord(fetch ? "fetch" : "run", argv, std::move(inheritable));
    if (!AppendRecordLine(config.script.record_file, BuildRecordLine(record), error))
      Complain(error);
  }
  if (config.script.output_holder_ms) StartOutputHolder(*config.script.output_holder_ms);
  // One write of all copies: a write per copy costs a wineserver round trip each under
  // Wine, which a loaded machine stretches past the helper's start check.
  std::string output;
  output.reserve(static_cast<size_t>(config.script.output_repeat) * config.script.stdout_text.size());
  for (int64_t i = 0; i < config.script.output_repeat; ++i) output += config.script.stdout_text;
  WriteToStd(STD_OUTPUT_HANDLE, output);
  WriteToStd(STD_ERROR_HANDLE, config.script.stderr_text);
  if (fetch) return RunFetch(command, config);
  RunEngine(config);
}

}  // namespace
}  // namespace pelno

int main() { return pelno::Main(); }
