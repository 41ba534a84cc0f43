// MeasureNode with real launches of the stand-in engine (tools/stand_in_engine),
// copied as sing-box.exe beside a relocated program path in a test folder.
#include "urltest/measure_node.h"

#include <gtest/gtest.h>
#include <windows.h>
#include <tlhelp32.h>

#include <string>

#include "base/unique_handle.h"
#include "engine/engine_config.h"
#include "engine/process_launcher.h"
#include "engine/testing/relocated_location_platform.h"
#include "engine/testing/stand_in_engine.h"
#include "engine/testing/temp_folder.h"
#include "urltest/testing/fake_client.h"
#include "urltest/win32_url_test_platform.h"

namespace pelno {
namespace {

using testing::RelocatedLocationPlatform;
using testing::StandInEnginePath;
using testing::TempFolder;
using testing::WriteFileBytes;

std::size_t ThreadsOfThisProcess() {
  UniqueHandle snapshot(::CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0));
  THREADENTRY32 entry = {sizeof(entry)};
  std::size_t threads = 0;
  for (BOOL more = ::Thread32First(snapshot.Get(), &entry); more; more = ::Thread32Next(snapshot.Get(), &entry))
    threads += entry.th32OwnerProcessID == ::GetCurrentProcessId();
  return threads;
}

class MeasureNodeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(StandInEnginePath().empty()) << "the stand-in engine is not part of this build";
    ASSERT_TRUE(::CreateDirectoryW(programDir.c_str(), nullptr));
    ASSERT_TRUE(::CopyFileW(StandInEnginePath().c_str(), (programDir + L"\\sing-box.exe").c_str(), FALSE));
    ASSERT_EQ(CreateDirectoryTree(DataDirectory(platform)), static_cast<DWORD>(ERROR_SUCCESS));
  }
  // Ends what the engines left (their job is this program's), so the folder can go.
  void TearDown() override { ::TerminateJobObject(job.Get(), 1); }

  // Measures node "A" on a configuration whose "stand_in" object holds `script`.
  bool Measure(const std::string& script, NodeMeasurement& record) {
    const std::wstring config = DataDirectory(platform) + L"\\run.json";
    EXPECT_TRUE(WriteFileBytes(config, "{\"stand_in\":{\"fetch\":{\"A\":{}}," + script + "}}"));
    return MeasureNode(config, registry.BeginRun("", client), "A", "http://127.0.0.1:9/", record, registry,
                       platform, job.Get());
  }

  TempFolder root{L"measure"};
  std::wstring programDir = root / L"program";
  RelocatedLocationPlatform platform{programDir + L"\\PelnoVpnHelperService.exe", root / L"roaming"};
  testing::FakeClient client;
  UrlTestRegistry registry{TerminateUrlTestEngine};
  UniqueHandle job = CreateEngineJob();
};

// A process the engine started holds its output pipe after it has gone, as a
// console host can: the measurement still ends with the engine, with all it wrote,
// and leaves no thread of this process reading.
TEST_F(MeasureNodeTest, EndsWithTheEngineWhoeverElseHoldsItsOutput) {
  NodeMeasurement record;
  ASSERT_TRUE(Measure(R"("stdout":"fetching\n")", record)) << record.note;
  const std::size_t threads = ThreadsOfThisProcess();
  ASSERT_TRUE(Measure(R"("stdout":"fetching\n","output_holder_ms":20000)", record)) << record.note;
  EXPECT_EQ(record.note, "fetching\n");
  EXPECT_EQ(ThreadsOfThisProcess(), threads);
}

}  // namespace
}  // namespace pelno
