// Real launches of the stand-in engine (tools/stand_in_engine), copied as
// sing-box.exe beside a relocated program path in a test folder of its own. Its
// "stand_in" object scripts the output, the exit and a launch record.
#include "engine/engine_process.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "engine/data_locations.h"
#include "engine/engine_config.h"
#include "engine/testing/fake_location_platform.h"
#include "engine/testing/relocated_location_platform.h"
#include "engine/testing/temp_folder.h"
#include "base/text_encoding.h"

namespace pelno {
namespace {

using testing::ReadFileBytes;
using testing::RelocatedLocationPlatform;
using testing::TempFolder;
using testing::WriteFileBytes;

constexpr char kExitedImmediately[] = "sing-box.exe exited immediately: ";

// The build gives the stand-in's path as the host sees it; Wine shows the host's
// root as drive Z:.
std::wstring StandInEnginePath() {
  const std::string host = PELNO_STAND_IN_ENGINE_EXE;
  std::wstring path;
  if (!host.empty() && host[0] == '/') path = L"Z:";
  for (const char c : host) path += c == '/' ? L'\\' : static_cast<wchar_t>(c);
  return path;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else {
      out += c;
    }
  }
  return out + "\"";
}

std::string JsonString(const std::wstring& text) { return JsonString(WideToUtf8(text)); }

// The handle values listed under "inheritable_handles" in a launch record.
std::vector<unsigned long long> InheritedHandles(const std::string& record) {
  std::vector<unsigned long long> values;
  const std::size_t start = record.find("\"inheritable_handles\":[");
  if (start == std::string::npos) return values;
  std::size_t pos = start + 23;
  while (pos < record.size() && record[pos] != ']') {
    if (record[pos] >= '0' && record[pos] <= '9') {
      std::size_t end = pos;
      values.push_back(std::stoull(record.substr(pos), &end));
      pos += end;
    } else {
      ++pos;
    }
  }
  return values;
}

// An inheritable pipe of someone else in this process at launch time, like a
// latency-test engine's being started on another thread.
struct ForeignPipe {
  ForeignPipe() {
    SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
    ::CreatePipe(read.Receive(), write.Receive(), &inheritable, 0);
  }
  // Closes our write end; true when no other process holds one.
  bool WriterGoneWithOurs() {
    write.Reset();
    DWORD available = 0;
    return !::PeekNamedPipe(read.Get(), nullptr, 0, nullptr, &available, nullptr) &&
           ::GetLastError() == ERROR_BROKEN_PIPE;
  }
  UniqueHandle read;
  UniqueHandle write;
};

class EngineProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(StandInEnginePath().empty()) << "the stand-in engine is not part of this build";
    ASSERT_TRUE(::CreateDirectoryW(programDir.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(StandInEnginePath().c_str(), (programDir + L"\\sing-box.exe").c_str(),
                            FALSE))
        << "cannot copy the stand-in engine " << WideToUtf8(StandInEnginePath());
    ASSERT_EQ(CreateDirectoryTree(DataDirectory(platform)), static_cast<DWORD>(ERROR_SUCCESS));
  }

  void TearDown() override {
    StopEngine(slot);
    StopEngine(other);
  }

  // Writes a configuration whose "stand_in" object holds `script` (JSON members).
  std::wstring WriteConfig(const std::string& script, const std::wstring& name = L"sing-box.json") {
    const std::wstring path = DataDirectory(platform) + L"\\" + name;
    EXPECT_TRUE(WriteFileBytes(path, "{\"stand_in\":{" + script + "}}"));
    return path;
  }

  std::string RecordMember() { return "\"record_file\":" + JsonString(recordFile); }

  bool Start(const std::wstring& config, EngineVariant variant = EngineVariant::kHelper) {
    return StartEngine(slot, config, variant, error, platform, SystemOutputPipeFactory());
  }

  TempFolder root{L"process"};
  std::wstring programDir = root / L"program dir";
  std::wstring recordFile = root / L"launches.jsonl";
  RelocatedLocationPlatform platform{programDir + L"\\PelnoVPN.exe", root / L"roaming folder"};
  EngineProcess slot;
  EngineProcess other;
  std::string error;
};

// What an engine that exits at once printed becomes the start's failure message.
// The 100 KB case is far more than a pipe buffers: the engine must still get to
// its exit.
TEST_F(EngineProcessTest, OutputOfAnEngineThatExitsAtOnceIsTheFailureMessage) {
  std::string large;
  while (large.size() < 900) large += "0123456789abcdef0123456789abcdef ";
  large.resize(900);
  const struct {
    std::string script;
    std::string message;
  } cases[] = {
      {R"("stdout":"FATAL[0000] decode config at inbounds[0]: unknown field","exit_code":1)",
       "FATAL[0000] decode config at inbounds[0]: unknown field"},
      {R"("exit_code":1)", "<empty>"},
      {R"("stdout":"\r\nfirst\r\n\r\nsecond\n","stderr":"third","exit_code":2)",
       "first second third"},
      {"\"stdout\":\"" + std::string(1000, 'x') + "\",\"exit_code\":1",
       std::string(900, 'x') + "..."},
      {R"("stdout":"0123456789abcdef0123456789abcdef\r\n","output_repeat":3200,"exit_code":1)",
       large + "..."},
  };
  for (const auto& c : cases) {
    ASSERT_FALSE(Start(WriteConfig(c.script))) << c.script;
    EXPECT_EQ(error, std::string(kExitedImmediately) + c.message);
    EXPECT_FALSE(slot.process);
    EXPECT_FALSE(slot.thread);
  }
  // The real engine's own complaint about a broken configuration.
  const std::wstring config = DataDirectory(platform) + L"\\sing-box.json";
  ASSERT_TRUE(WriteFileBytes(config, "{ not json"));
  ASSERT_FALSE(Start(config));
  EXPECT_EQ(error.rfind(kExitedImmediately, 0), 0u) << error;
  EXPECT_NE(error.find("stand-in engine"), std::string::npos) << error;
}

TEST_F(EngineProcessTest, LaunchesWithQuotedPathsEnvironmentAndDataDirectory) {
  for (const wchar_t* name : {L"ENABLE_DEPRECATED_LEGACY_DNS_SERVERS",
                              L"ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM",
                              L"ENABLE_DEPRECATED_MISSING_DOMAIN_RESOLVER"}) {
    ::SetEnvironmentVariableW(name, nullptr);
  }
  const std::wstring config = WriteConfig(RecordMember(), L"config with spaces.json");
  ASSERT_TRUE(Start(config)) << error;
  EXPECT_TRUE(IsEngineRunning(slot));
  EXPECT_NE(slot.processId, 0u);
  EXPECT_NE(slot.threadId, 0u);

  const std::string record = ReadFileBytes(recordFile);
  const std::wstring engine = programDir + L"\\sing-box.exe";
  EXPECT_NE(record.find("\"command_line\":" +
                        JsonString(L"\"" + engine + L"\" run -c \"" + config + L"\"")),
            std::string::npos)
      << record;
  EXPECT_NE(record.find("\"argv\":[" + JsonString(engine) + ",\"run\",\"-c\"," +
                        JsonString(config) + "]"),
            std::string::npos)
      << record;
  EXPECT_NE(record.find("\"cwd\":" + JsonString(DataDirectory(platform))), std::string::npos)
      << record;
  EXPECT_NE(record.find("\"ENABLE_DEPRECATED_LEGACY_DNS_SERVERS\":\"true\","
                        "\"ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM\":\"true\","
                        "\"ENABLE_DEPRECATED_MISSING_DOMAIN_RESOLVER\":\"true\""),
            std::string::npos)
      << record;
  EXPECT_NE(record.find("\"pid\":" + std::to_string(slot.processId) + ","), std::string::npos)
      << record;
  // The variables stay set in the launching process.
  wchar_t value[8] = {};
  EXPECT_EQ(::GetEnvironmentVariableW(L"ENABLE_DEPRECATED_MISSING_DOMAIN_RESOLVER", value, 8), 4u);
}

TEST_F(EngineProcessTest, HelperEngineInheritsOnlyItsOwnPipeEnd) {
  ForeignPipe foreign;
  ASSERT_TRUE(foreign.read);

  ASSERT_TRUE(Start(WriteConfig(RecordMember()))) << error;
  const std::vector<unsigned long long> inherited = InheritedHandles(ReadFileBytes(recordFile));
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  for (const unsigned long long value : inherited) {
    EXPECT_NE(value, reinterpret_cast<std::uintptr_t>(foreign.write.Get()));
    EXPECT_NE(value, reinterpret_cast<std::uintptr_t>(foreign.read.Get()));
  }
  // Its own output pipe end, and standard input when this process has one to give.
  EXPECT_GE(inherited.size(), 1u);
  EXPECT_LE(inherited.size(), input != nullptr && input != INVALID_HANDLE_VALUE ? 2u : 1u);

  // With our write end gone, the foreign pipe has no writer left while the engine runs.
  EXPECT_TRUE(foreign.WriterGoneWithOurs());
  EXPECT_TRUE(IsEngineRunning(slot));
}

TEST_F(EngineProcessTest, TwoEnginesStartedTogetherDoNotHoldEachOthersPipes) {
  const std::wstring failing =
      WriteConfig(R"("stdout":"engine A: bad config","exit_after_ms":300,"exit_code":1)", L"a.json");
  const std::wstring running = WriteConfig(RecordMember(), L"b.json");
  // Both threads are released together by one event. (Not std::latch: the mingw-w64
  // libstdc++ 12 wait without futexes can lose the wake-up and leave a waiter for ever.)
  UniqueHandle go(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  ASSERT_TRUE(go);
  std::string errorA;
  std::string errorB;
  bool startedA = true;
  bool startedB = false;
  std::thread a([&] {
    ::WaitForSingleObject(go.Get(), INFINITE);
    startedA = StartEngine(slot, failing, EngineVariant::kHelper, errorA, platform,
                           SystemOutputPipeFactory());
  });
  std::thread b([&] {
    ::WaitForSingleObject(go.Get(), INFINITE);
    startedB = StartEngine(other, running, EngineVariant::kHelper, errorB, platform,
                           SystemOutputPipeFactory());
  });
  ::SetEvent(go.Get());
  a.join();
  b.join();
  EXPECT_FALSE(startedA);
  EXPECT_EQ(errorA, std::string(kExitedImmediately) + "engine A: bad config");
  EXPECT_TRUE(startedB) << errorB;
  EXPECT_LE(InheritedHandles(ReadFileBytes(recordFile)).size(), 2u);
}

TEST_F(EngineProcessTest, StopTerminatesARunningEngineWithExitCodeZero) {
  ASSERT_TRUE(Start(WriteConfig(R"("stdout":"started\n")"))) << error;
  ASSERT_TRUE(IsEngineRunning(slot));
  HANDLE copy = nullptr;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), slot.process.Get(), ::GetCurrentProcess(),
                                &copy, 0, FALSE, DUPLICATE_SAME_ACCESS));
  UniqueHandle watched(copy);
  StopEngine(slot);
  EXPECT_FALSE(IsEngineRunning(slot));
  EXPECT_FALSE(slot.process);
  EXPECT_FALSE(slot.thread);
  EXPECT_EQ(slot.processId, 0u);
  EXPECT_EQ(::WaitForSingleObject(watched.Get(), 0), static_cast<DWORD>(WAIT_OBJECT_0));
  DWORD code = 99;
  ASSERT_TRUE(::GetExitCodeProcess(watched.Get(), &code));
  EXPECT_EQ(code, 0u);
}

TEST_F(EngineProcessTest, EngineThatExitsLaterStaysInTheSlotUntilStopped) {
  ASSERT_TRUE(Start(WriteConfig(R"("exit_after_ms":1200,"exit_code":3)"))) << error;
  ASSERT_EQ(::WaitForSingleObject(slot.process.Get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_FALSE(IsEngineRunning(slot));
  EXPECT_TRUE(slot.process);
  DWORD code = 0;
  ASSERT_TRUE(::GetExitCodeProcess(slot.process.Get(), &code));
  EXPECT_EQ(code, 3u);
  StopEngine(slot);
  EXPECT_FALSE(slot.process);
  EXPECT_FALSE(slot.thread);
}

TEST_F(EngineProcessTest, StopOnAnEmptySlotDoesNothing) {
  StopEngine(slot);
  StopEngine(slot);
  EXPECT_FALSE(slot.process);
  EXPECT_FALSE(IsEngineRunning(slot));
}

TEST_F(EngineProcessTest, ApplicationVariantStartsWithoutPipeOrInheritedHandles) {
  ForeignPipe foreign;
  ASSERT_TRUE(foreign.read);

  ASSERT_TRUE(Start(WriteConfig(RecordMember()), EngineVariant::kApplication)) << error;
  EXPECT_TRUE(IsEngineRunning(slot));
  const std::string record = ReadFileBytes(recordFile);
  EXPECT_NE(record.find("\"cwd\":" + JsonString(DataDirectory(platform))), std::string::npos);
  EXPECT_NE(record.find("\"ENABLE_DEPRECATED_LEGACY_DNS_SERVERS\":\"true\""), std::string::npos);
  // Inheritance is off: the running engine holds no copy of the pipe's write end.
  EXPECT_TRUE(foreign.WriterGoneWithOurs());
}

TEST_F(EngineProcessTest, ApplicationVariantLeavesAnExitedEngineInTheSlot) {
  ASSERT_FALSE(Start(WriteConfig(R"("stdout":"bad","exit_code":1)"), EngineVariant::kApplication));
  EXPECT_EQ(error, "sing-box.exe exited immediately; check the subscription config");
  EXPECT_TRUE(slot.process);
  EXPECT_FALSE(IsEngineRunning(slot));
  StopEngine(slot);
  EXPECT_FALSE(slot.process);
}

TEST_F(EngineProcessTest, CreationFailureIsWordedPerProgram) {
  // A directory of that name is found by the lookup but cannot be started.
  ASSERT_TRUE(::DeleteFileW((programDir + L"\\sing-box.exe").c_str()));
  ASSERT_TRUE(::CreateDirectoryW((programDir + L"\\sing-box.exe").c_str(), nullptr));
  const std::wstring config = WriteConfig("");
  std::wstring commandLine = L"\"" + programDir + L"\\sing-box.exe\" run";
  STARTUPINFOW startup = {sizeof(startup)};
  PROCESS_INFORMATION info = {};
  ASSERT_FALSE(::CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                                nullptr, &startup, &info));
  const DWORD code = ::GetLastError();

  ASSERT_FALSE(Start(config));
  EXPECT_EQ(error, "Failed to start sing-box.exe: " + std::to_string(code));
  EXPECT_FALSE(slot.process);
  ASSERT_FALSE(Start(config, EngineVariant::kApplication));
  EXPECT_EQ(error, "Failed to start sing-box.exe");
  EXPECT_FALSE(slot.process);
}

// The lookup saw the file, which is gone by the time of the launch.
class VanishedEnginePlatform : public RelocatedLocationPlatform {
 public:
  using RelocatedLocationPlatform::RelocatedLocationPlatform;
  std::uint32_t QueryPathStatus(const std::wstring&) override { return 0; }
};

TEST_F(EngineProcessTest, MissingFileGivesErrorTwo) {
  ASSERT_TRUE(::DeleteFileW((programDir + L"\\sing-box.exe").c_str()));
  VanishedEnginePlatform vanished(programDir + L"\\PelnoVPN.exe", root / L"roaming folder");
  ASSERT_FALSE(StartEngine(slot, WriteConfig(""), EngineVariant::kHelper, error, vanished,
                           SystemOutputPipeFactory()));
  EXPECT_EQ(error, "Failed to start sing-box.exe: 2");
}

class FailingPipeFactory : public OutputPipeFactory {
 public:
  bool CreateOutputPipe(UniqueHandle&, UniqueHandle&) override { return false; }
};

TEST_F(EngineProcessTest, PipeCreationFailureStartsNothing) {
  FailingPipeFactory pipes;
  ASSERT_FALSE(StartEngine(slot, WriteConfig(RecordMember()), EngineVariant::kHelper, error,
                           platform, pipes));
  EXPECT_EQ(error, "Failed to create sing-box output pipe");
  EXPECT_FALSE(slot.process);
  EXPECT_EQ(::GetFileAttributesW(recordFile.c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(EngineProcessTest, LookupResultsBecomeTheStartsMessage) {
  testing::FakeLocationPlatform nothing;
  for (const EngineVariant variant : {EngineVariant::kHelper, EngineVariant::kApplication}) {
    error.clear();
    EXPECT_FALSE(StartEngine(slot, L"C:\\x.json", variant, error, nothing,
                             SystemOutputPipeFactory()));
    EXPECT_EQ(error, "sing-box.exe not found; place it next to the app exe or in the data directory");
  }
  testing::FakeLocationPlatform failing;
  failing.statusCodes[L"C:\\Apps\\Client\\sing-box.exe"] = 5;
  EXPECT_FALSE(StartEngine(slot, L"C:\\x.json", EngineVariant::kHelper, error, failing,
                           SystemOutputPipeFactory()));
  EXPECT_EQ(error, "filesystem error: exists: system message 5 [C:\\Apps\\Client\\sing-box.exe]");
  EXPECT_FALSE(slot.process);
}

TEST(DrainOutputPipeTest, ReadsWhatIsWaitingWithoutBlocking) {
  HANDLE read = nullptr;
  HANDLE write = nullptr;
  ASSERT_TRUE(::CreatePipe(&read, &write, nullptr, 64 * 1024));
  UniqueHandle readEnd(read);
  UniqueHandle writeEnd(write);
  EXPECT_EQ(DrainOutputPipe(read), "");  // nothing waiting, writer still open: no wait

  const std::string chunk(3000, 'a');
  DWORD written = 0;
  for (int i = 0; i < 4; ++i) {
    ASSERT_TRUE(::WriteFile(write, chunk.data(), 3000, &written, nullptr));
  }
  // 12000 bytes wait; reads of at most 4096 stop once more than 4096 are held.
  EXPECT_EQ(DrainOutputPipe(read).size(), 8192u);
  EXPECT_EQ(DrainOutputPipe(read).size(), 12000u - 8192u);
  writeEnd.Reset();
  EXPECT_EQ(DrainOutputPipe(read), "");  // broken pipe: empty
}

}  // namespace
}  // namespace pelno
