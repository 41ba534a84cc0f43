// Real launches of the stand-in engine (tools/stand_in_engine), copied as
// sing-box.exe beside a relocated program path in a test folder of its own. Its
// "stand_in" object scripts the output, the exit and a launch record.
#include "engine/engine_process.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <windows.h>

#include <string>

#include "engine/data_locations.h"
#include "engine/engine_config.h"
#include "engine/process_exit_watch.h"
#include "engine/testing/fake_location_platform.h"
#include "engine/testing/relocated_location_platform.h"
#include "engine/testing/stand_in_engine.h"
#include "engine/testing/temp_folder.h"
#include "base/text_encoding.h"

namespace pelno {
namespace {

using testing::ReadFileBytes;
using testing::RelocatedLocationPlatform;
using testing::StandInEnginePath;
using testing::TempFolder;
using testing::WriteFileBytes;

constexpr char kExitedImmediately[] = "sing-box.exe exited immediately: ";

using Json = nlohmann::json;

// The last launch line the stand-in engine wrote to its record file.
Json LastLaunch(const std::wstring& recordFile) {
  std::string text = ReadFileBytes(recordFile);
  while (text.ends_with('\n')) text.pop_back();
  return Json::parse(text.substr(text.rfind('\n') + 1), nullptr, false);
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
    ASSERT_TRUE(::CopyFileW(StandInEnginePath().c_str(), (programDir + L"\\sing-box.exe").c_str(), FALSE))
        << "cannot copy the stand-in engine " << WideToUtf8(StandInEnginePath());
    ASSERT_EQ(CreateDirectoryTree(DataDirectory(platform)), static_cast<DWORD>(ERROR_SUCCESS));
  }

  void TearDown() override { StopEngine(slot); }

  // Writes a configuration whose "stand_in" object holds `script` (JSON members).
  std::wstring WriteConfig(const std::string& script, const std::wstring& name = L"sing-box.json") {
    const std::wstring path = DataDirectory(platform) + L"\\" + name;
    EXPECT_TRUE(WriteFileBytes(path, "{\"stand_in\":{" + script + "}}"));
    return path;
  }

  std::string RecordMember() { return "\"record_file\":" + Json(WideToUtf8(recordFile)).dump(); }

  bool Start(const std::wstring& config) {
    return StartHelperEngine(slot, config, error, platform, pipes, job.Get());
  }

  TempFolder root{L"process"};
  std::wstring programDir = root / L"program dir";
  std::wstring recordFile = root / L"launches.jsonl";
  RelocatedLocationPlatform platform{programDir + L"\\PelnoVPN.exe", root / L"roaming folder"};
  Win32OutputPipeFactory pipes;
  UniqueHandle job = CreateEngineJob();
  EngineProcess slot;
  std::string error;
};

// What an engine that exits at once printed becomes the start's failure message, even
// far more than a pipe buffers: the engine must still get to its exit. (The summary's
// own rules are tested natively.)
TEST_F(EngineProcessTest, OutputOfAnEngineThatExitsAtOnceIsTheFailureMessage) {
  std::string summary;
  while (summary.size() < 900) summary += "0123456789abcdef0123456789abcdef ";
  summary.resize(900);
  ASSERT_FALSE(
      Start(WriteConfig(R"("stdout":"0123456789abcdef0123456789abcdef\r\n","output_repeat":3200,"exit_code":1)")));
  EXPECT_EQ(error, std::string(kExitedImmediately) + summary + "...");
  EXPECT_FALSE(slot.process);
}

// The command line, working directory and variables reach the engine; the variables
// are the child's own, the launching program's environment stays as it was. The
// engine runs without a console in the program's kill-on-close job and inherits its
// own pipe end only, not another inheritable pipe of this process.
TEST_F(EngineProcessTest, LaunchesWithQuotedPathsEnvironmentDataDirectoryJobAndOwnPipe) {
  ::SetEnvironmentVariableW(L"ENABLE_DEPRECATED_LEGACY_DNS_SERVERS", nullptr);
  ForeignPipe foreign;
  const std::wstring config = WriteConfig(RecordMember(), L"config with spaces.json");
  ASSERT_TRUE(Start(config)) << error;
  EXPECT_TRUE(IsEngineRunning(slot));

  const Json launch = LastLaunch(recordFile);
  const std::string engine = WideToUtf8(programDir + L"\\sing-box.exe");
  EXPECT_EQ(launch["argv"], Json({engine, "run", "-c", WideToUtf8(config)})) << launch;
  EXPECT_EQ(launch["cwd"], WideToUtf8(DataDirectory(platform)));
  EXPECT_EQ(launch["env"], Json({{"ENABLE_DEPRECATED_LEGACY_DNS_SERVERS", "true"},
                                 {"ENABLE_DEPRECATED_OUTBOUND_DNS_RULE_ITEM", "true"},
                                 {"ENABLE_DEPRECATED_MISSING_DOMAIN_RESOLVER", "true"}}));
  EXPECT_EQ(launch["pid"], slot.processId);
  EXPECT_EQ(launch["console"], false);  // no console host is started for it
  EXPECT_EQ(::GetEnvironmentVariableW(L"ENABLE_DEPRECATED_LEGACY_DNS_SERVERS", nullptr, 0), 0u);
  BOOL inJob = FALSE;
  ASSERT_TRUE(::IsProcessInJob(slot.process.Get(), job.Get(), &inJob));
  EXPECT_TRUE(inJob);
  for (const Json& value : launch["inheritable_handles"])
    EXPECT_NE(value, reinterpret_cast<std::uintptr_t>(foreign.write.Get()));
  EXPECT_TRUE(foreign.WriterGoneWithOurs());  // no engine holds a copy of its write end
}

// An engine that exits later, even with exit code 259 (STILL_ACTIVE's value), is
// not running any more; the watch reports its exit code; stop empties the slot.
TEST_F(EngineProcessTest, ExitIsSeenByTheHandleAndReportedByTheWatch) {
  ASSERT_TRUE(Start(WriteConfig(R"("exit_after_ms":1200,"exit_code":259)"))) << error;
  UniqueHandle reported(::CreateEventW(nullptr, TRUE, FALSE, nullptr));
  DWORD reportedCode = 0;
  ProcessExitWatch watch;
  ASSERT_TRUE(watch.Start(slot.process.Get(), [&](DWORD code) {
    reportedCode = code;
    ::SetEvent(reported.Get());
  }));
  ASSERT_EQ(::WaitForSingleObject(reported.Get(), 10000), static_cast<DWORD>(WAIT_OBJECT_0));
  EXPECT_EQ(reportedCode, 259u);
  EXPECT_FALSE(IsEngineRunning(slot));
  StopEngine(slot);
  EXPECT_FALSE(slot.process);
  EXPECT_FALSE(slot.thread);
}

TEST_F(EngineProcessTest, StopTerminatesWithExitCodeZeroAndACancelledWatchStaysSilent) {
  ASSERT_TRUE(Start(WriteConfig(R"("stdout":"started\n")"))) << error;
  bool reported = false;
  ProcessExitWatch watch;
  ASSERT_TRUE(watch.Start(slot.process.Get(), [&](DWORD) { reported = true; }));
  watch.Cancel();
  UniqueHandle watched;
  ASSERT_TRUE(::DuplicateHandle(::GetCurrentProcess(), slot.process.Get(), ::GetCurrentProcess(),
                                watched.Receive(), 0, FALSE, DUPLICATE_SAME_ACCESS));
  StopEngine(slot);
  EXPECT_FALSE(slot.process);
  EXPECT_EQ(slot.processId, 0u);
  DWORD code = 99;
  ASSERT_TRUE(::GetExitCodeProcess(watched.Get(), &code));
  EXPECT_EQ(code, 0u);
  ::Sleep(200);
  EXPECT_FALSE(reported);
}

TEST_F(EngineProcessTest, ApplicationEngineInheritsNothingAndStaysInTheSlotWhenItExits) {
  ForeignPipe foreign;
  ASSERT_TRUE(StartApplicationEngine(slot, WriteConfig(RecordMember()), error, platform, job.Get())) << error;
  EXPECT_TRUE(foreign.WriterGoneWithOurs());
  ASSERT_FALSE(
      StartApplicationEngine(slot, WriteConfig(R"("stdout":"bad","exit_code":1)"), error, platform, job.Get()));
  EXPECT_EQ(error, "sing-box.exe exited immediately; check the subscription config");
  EXPECT_TRUE(slot.process);
  EXPECT_FALSE(IsEngineRunning(slot));
}

// A start that cannot happen starts nothing and says why, worded per program: no
// output pipe, no engine found, an engine file that is a folder (found, not startable).
TEST_F(EngineProcessTest, FailedStartsStartNothingAndAreWordedPerProgram) {
  struct : OutputPipeFactory {
    bool CreateOutputPipe(UniqueHandle&, UniqueHandle&) override { return false; }
  } failing;
  ASSERT_FALSE(StartHelperEngine(slot, WriteConfig(RecordMember()), error, platform, failing, job.Get()));
  EXPECT_EQ(error, "Failed to create sing-box output pipe");
  EXPECT_EQ(::GetFileAttributesW(recordFile.c_str()), INVALID_FILE_ATTRIBUTES);
  testing::FakeLocationPlatform nothing;
  EXPECT_FALSE(StartApplicationEngine(slot, L"C:\\x.json", error, nothing, job.Get()));
  EXPECT_EQ(error, "sing-box.exe not found; place it next to the app exe or in the data directory");
  EXPECT_FALSE(slot.process);

  ASSERT_TRUE(::DeleteFileW((programDir + L"\\sing-box.exe").c_str()));
  ASSERT_TRUE(::CreateDirectoryW((programDir + L"\\sing-box.exe").c_str(), nullptr));
  const std::wstring config = WriteConfig("");
  ASSERT_FALSE(Start(config));
  EXPECT_EQ(error, "Failed to start sing-box.exe: " + std::to_string(ERROR_ACCESS_DENIED));
  EXPECT_FALSE(slot.process);
  ASSERT_FALSE(StartApplicationEngine(slot, config, error, platform, job.Get()));
  EXPECT_EQ(error, "Failed to start sing-box.exe");
  EXPECT_FALSE(slot.process);
}

}  // namespace
}  // namespace pelno
