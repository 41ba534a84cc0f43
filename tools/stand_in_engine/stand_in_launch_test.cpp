// Launches the stand-in engine the way the product launches the engine
// (CreateProcessW with quoted paths, the three environment variables, the data
// directory as working directory, a pipe for its output) and checks what the
// stand-in saw and did.
#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "engine/unique_handle.h"
#include "tools/stand_in_engine/json_value.h"
#include "tools/stand_in_engine/launch_record.h"
#include "tools/stand_in_engine/process_facts.h"
#include "tools/stand_in_engine/win_text.h"

namespace pelno {
namespace {

namespace fs = std::filesystem;

// The build gives a Linux path when cross-compiling; Wine shows it under Z:.
std::wstring EngineBuildPath() {
  std::string path = PELNO_STAND_IN_ENGINE_EXE;
  if (!path.empty() && path[0] == '/') {
    for (char& c : path) {
      if (c == '/') c = '\\';
    }
    path = "Z:" + path;
  }
  return WideFromNarrow(path);
}

struct Launched {
  UniqueHandle process;
  DWORD pid = 0;
  UniqueHandle output;  // read end of the child's stdout/stderr pipe
};

struct Pipe {
  UniqueHandle read;
  UniqueHandle write;
};

Pipe MakeInheritablePipe() {
  SECURITY_ATTRIBUTES sa{sizeof(sa), nullptr, TRUE};
  Pipe pipe;
  EXPECT_TRUE(CreatePipe(pipe.read.Receive(), pipe.write.Receive(), &sa, 0)) << GetLastError();
  SetHandleInformation(pipe.read.Get(), HANDLE_FLAG_INHERIT, 0);
  return pipe;
}

class StandInLaunchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    ASSERT_GT(GetTempPathW(MAX_PATH, temp), 0u);
    root_ = fs::path(temp) / (L"pelno stand in " + std::to_wstring(GetCurrentProcessId()) + L"-" +
                              std::to_wstring(GetTickCount64()));
    fs::create_directories(root_ / L"app dir");
    fs::create_directories(root_ / L"data dir");
    engine_ = root_ / L"app dir" / L"sing-box.exe";
    fs::copy_file(EngineBuildPath(), engine_);
    config_ = root_ / L"data dir" / L"sing-box.json";
    record_ = root_ / L"data dir" / L"record.jsonl";
    for (const char* name : kRecordedEnvironmentVariables) {
      SetEnvironmentVariableW(WideFromNarrow(name).c_str(), L"true");
    }
  }

  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
  }

  void WriteConfig(const std::string& stand_in) {
    std::string record_json;
    AppendJsonString(record_json, NarrowFromWide(record_.wstring()));
    std::ofstream(config_, std::ios::binary)
        << "{\"outbounds\":[{\"type\":\"direct\",\"tag\":\"direct\"}],\"stand_in\":{\"record_"
           "file\":"
        << record_json << (stand_in.empty() ? "" : ",") << stand_in << "}}";
  }

  std::wstring RunCommandLine() const {
    return L"\"" + engine_.wstring() + L"\" run -c \"" + config_.wstring() + L"\"";
  }

  // CreateProcessW as the helper does it; `inherit_only` limits inheritance to
  // the listed handles (the output pipe's write end is added).
  Launched Launch(const std::wstring& command_line, std::vector<HANDLE> inherit_only = {},
                  bool use_handle_list = false) {
    Launched launched;
    Pipe pipe = MakeInheritablePipe();
    STARTUPINFOEXW si{};
    si.StartupInfo.cb = use_handle_list ? sizeof(STARTUPINFOEXW) : sizeof(STARTUPINFOW);
    si.StartupInfo.dwFlags = STARTF_USESTDHANDLES | STARTF_USESHOWWINDOW;
    si.StartupInfo.wShowWindow = SW_HIDE;
    si.StartupInfo.hStdInput = nullptr;
    si.StartupInfo.hStdOutput = pipe.write.Get();
    si.StartupInfo.hStdError = pipe.write.Get();
    std::vector<char> attributes;
    DWORD flags = CREATE_NO_WINDOW;
    if (use_handle_list) {
      inherit_only.push_back(pipe.write.Get());
      SIZE_T size = 0;
      InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
      attributes.resize(size);
      si.lpAttributeList = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(attributes.data());
      EXPECT_TRUE(InitializeProcThreadAttributeList(si.lpAttributeList, 1, 0, &size));
      EXPECT_TRUE(UpdateProcThreadAttribute(
          si.lpAttributeList, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, inherit_only.data(),
          inherit_only.size() * sizeof(HANDLE), nullptr, nullptr));
      flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    std::wstring writable = command_line;
    std::wstring cwd = (root_ / L"data dir").wstring();
    PROCESS_INFORMATION pi{};
    BOOL created = CreateProcessW(nullptr, writable.data(), nullptr, nullptr, TRUE, flags, nullptr,
                                  cwd.c_str(), &si.StartupInfo, &pi);
    if (use_handle_list) DeleteProcThreadAttributeList(si.lpAttributeList);
    EXPECT_TRUE(created) << GetLastError();
    if (!created) return launched;
    CloseHandle(pi.hThread);
    launched.process.Reset(pi.hProcess);
    launched.pid = pi.dwProcessId;
    launched.output = std::move(pipe.read);
    return launched;
  }

  static DWORD WaitForExit(const Launched& launched) {
    EXPECT_EQ(WaitForSingleObject(launched.process.Get(), 30000), WAIT_OBJECT_0);
    DWORD code = 0;
    GetExitCodeProcess(launched.process.Get(), &code);
    return code;
  }

  static std::string ReadAll(const Launched& launched) {
    std::string out;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(launched.output.Get(), buffer, sizeof(buffer), &got, nullptr) && got > 0) {
      out.append(buffer, got);
    }
    return out;
  }

  std::vector<JsonValue> RecordLines() const {
    std::ifstream in(record_, std::ios::binary);
    std::vector<JsonValue> lines;
    std::string line;
    while (std::getline(in, line)) {
      JsonValue v;
      std::string error;
      EXPECT_TRUE(ParseJson(line, v, error)) << line << ": " << error;
      lines.push_back(std::move(v));
    }
    return lines;
  }

  static bool ListsHandle(const JsonValue& record, HANDLE h) {
    for (const JsonValue& value : record.Find("inheritable_handles")->Items()) {
      if (value.AsInt64() == static_cast<int64_t>(reinterpret_cast<uintptr_t>(h))) return true;
    }
    return false;
  }

  fs::path root_, engine_, config_, record_;
};

TEST_F(StandInLaunchTest, RunLaunchIsRecordedAsTheEngineSawIt) {
  WriteConfig(R"("stdout":"engine started\n","exit_code":0)");
  Launched launched = Launch(RunCommandLine());
  ASSERT_TRUE(launched.process);
  EXPECT_EQ(ReadAll(launched), "engine started\n");
  EXPECT_EQ(WaitForExit(launched), 0u);

  std::vector<JsonValue> lines = RecordLines();
  ASSERT_EQ(lines.size(), 1u);
  const JsonValue& r = lines[0];
  EXPECT_EQ(r.Find("command")->AsString(), "run");
  EXPECT_EQ(r.Find("command_line")->AsString(), NarrowFromWide(RunCommandLine()));
  const auto& argv = r.Find("argv")->Items();
  ASSERT_EQ(argv.size(), 4u);
  EXPECT_EQ(argv[0].AsString(), NarrowFromWide(engine_.wstring()));
  EXPECT_EQ(argv[3].AsString(), NarrowFromWide(config_.wstring()));
  EXPECT_EQ(r.Find("cwd")->AsString(), NarrowFromWide((root_ / L"data dir").wstring()));
  for (const char* name : kRecordedEnvironmentVariables) {
    EXPECT_EQ(r.Find("env")->Find(name)->AsString(), "true") << name;
  }
  EXPECT_EQ(r.Find("pid")->AsInt64(), static_cast<int64_t>(launched.pid));
}

TEST_F(StandInLaunchTest, UnsetEnvironmentVariableIsRecordedAsNull) {
  SetEnvironmentVariableW(L"ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM", nullptr);
  WriteConfig(R"("exit_code":0)");
  Launched launched = Launch(RunCommandLine());
  ASSERT_TRUE(launched.process);
  EXPECT_EQ(WaitForExit(launched), 0u);
  std::vector<JsonValue> lines = RecordLines();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_TRUE(lines[0].Find("env")->Find("ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM")->IsNull());
  EXPECT_EQ(lines[0].Find("env")->Find("ENABLE_DEPRECATED_LEGACY_DNS_SERVERS")->AsString(), "true");
}

TEST_F(StandInLaunchTest, GoodConfigStaysUpUntilTerminated) {
  WriteConfig("");
  Launched launched = Launch(RunCommandLine());
  ASSERT_TRUE(launched.process);
  EXPECT_EQ(WaitForSingleObject(launched.process.Get(), 1000), static_cast<DWORD>(WAIT_TIMEOUT));
  DWORD code = 0;
  ASSERT_TRUE(GetExitCodeProcess(launched.process.Get(), &code));
  EXPECT_EQ(code, static_cast<DWORD>(STILL_ACTIVE));
  ASSERT_TRUE(TerminateProcess(launched.process.Get(), 0));
  EXPECT_EQ(WaitForExit(launched), 0u);
}

// 259 is STILL_ACTIVE: an engine that ends with it looks like a running one to an
// exit-code query, which the product's tests may want to provoke.
TEST_F(StandInLaunchTest, ScriptedExitCodeReachesTheLauncherUnchanged) {
  for (DWORD code : {259u, 0xC0000005u, 3u}) {
    WriteConfig("\"exit_code\":" + std::to_string(code));
    Launched launched = Launch(RunCommandLine());
    ASSERT_TRUE(launched.process);
    EXPECT_EQ(WaitForExit(launched), code);
  }
}

TEST_F(StandInLaunchTest, RejectedConfigExitsWithItsReason) {
  std::ofstream(config_, std::ios::binary) << "{\"inbounds\": [";
  Launched launched = Launch(RunCommandLine());
  ASSERT_TRUE(launched.process);
  EXPECT_EQ(WaitForExit(launched), 1u);
  std::string output = ReadAll(launched);
  EXPECT_NE(output.find("invalid configuration"), std::string::npos) << output;
}

TEST_F(StandInLaunchTest, FetchLaunchWithQuotedTagAndUrl) {
  WriteConfig(R"("fetch":{"node A":{"delay_ms":10,"fail":false},"node B":{"fail":true}})");
  auto fetch_line = [this](const std::wstring& tag) {
    return L"\"" + engine_.wstring() + L"\" --disable-color -c \"" + config_.wstring() +
           L"\" tools -o \"" + tag + L"\" fetch \"http://127.0.0.1:9/generate_204\"";
  };
  Launched ok = Launch(fetch_line(L"node A"));
  ASSERT_TRUE(ok.process);
  EXPECT_EQ(WaitForExit(ok), 0u);
  Launched failed = Launch(fetch_line(L"node B"));
  ASSERT_TRUE(failed.process);
  EXPECT_EQ(WaitForExit(failed), 1u);
  Launched unknown = Launch(fetch_line(L"node C"));
  ASSERT_TRUE(unknown.process);
  EXPECT_EQ(WaitForExit(unknown), 1u);
  EXPECT_NE(ReadAll(unknown).find("outbound not found: node C"), std::string::npos);

  std::vector<JsonValue> lines = RecordLines();
  ASSERT_EQ(lines.size(), 3u);
  const auto& argv = lines[0].Find("argv")->Items();
  ASSERT_EQ(argv.size(), 9u);
  EXPECT_EQ(lines[0].Find("command")->AsString(), "fetch");
  EXPECT_EQ(argv[6].AsString(), "node A");
  EXPECT_EQ(argv[8].AsString(), "http://127.0.0.1:9/generate_204");
}

TEST_F(StandInLaunchTest, RecordShowsWhichHandlesWereInherited) {
  WriteConfig(R"("exit_code":0)");
  Pipe stray = MakeInheritablePipe();  // e.g. another engine's pipe being set up meanwhile
  ASSERT_LT(reinterpret_cast<uintptr_t>(stray.write.Get()), kHandleProbeLimit);

  Launched everything = Launch(RunCommandLine());
  ASSERT_TRUE(everything.process);
  EXPECT_EQ(WaitForExit(everything), 0u);
  Launched restricted = Launch(RunCommandLine(), {}, /*use_handle_list=*/true);
  ASSERT_TRUE(restricted.process);
  EXPECT_EQ(WaitForExit(restricted), 0u);

  std::vector<JsonValue> lines = RecordLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_TRUE(ListsHandle(lines[0], stray.write.Get()));
  EXPECT_FALSE(ListsHandle(lines[1], stray.write.Get()));
  EXPECT_LT(lines[1].Find("inheritable_handles")->Items().size(),
            lines[0].Find("inheritable_handles")->Items().size());
}

}  // namespace
}  // namespace pelno
