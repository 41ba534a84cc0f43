// The launched-helper slot over a helper program in memory.
#include "plugin/launched_helper_slot.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "plugin/helper_launcher.h"
#include "plugin/helper_transport.h"

namespace pelno {
namespace {

// The helper program in memory: each start takes 50 ms, then the helper answers
// "/ping" (when `answers`) until it is ended or crashes.
struct FakeHelperProgram : HelperTransport, HelperLauncher {
  struct Process : HelperProcess {
    Process(FakeHelperProgram& program, int number) : program(program), number(number) {}
    std::uint32_t ProcessId() const override { return 7; }
    bool Crashed() const { return number <= program.crashedUpTo; }
    bool HasExited() const override { return exited || Crashed(); }
    void End() override { program.running -= !std::exchange(exited, true) && !Crashed(); }
    FakeHelperProgram& program;
    const int number;
    bool exited = false;
  };
  struct Pong : HelperReply {
    int Status() const override { return 200; }
    bool ReadChunk(std::string& chunk) override { return chunk = "pong", !std::exchange(read, true); }
    bool read = false;
  };
  std::unique_ptr<HelperReply> Send(std::string_view, std::string_view, std::string_view, HelperBound) override {
    return running > 0 && answers ? std::make_unique<Pong>() : nullptr;
  }
  std::unique_ptr<HelperProcess> Launch() override {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    if (onLaunch) onLaunch();
    ++launches;
    ++running;
    return std::make_unique<Process>(*this, launches);
  }
  void Sleep(std::uint32_t) override {}
  void CrashAll() { crashedUpTo = launches.load(), running = 0; }

  std::atomic<int> launches{0}, running{0}, crashedUpTo{0};
  std::atomic<bool> answers{true};
  std::function<void()> onLaunch;
};

// Six latency tests at once with no helper: one start, whose outcome all six share,
// and the clean-up ends it. Starts that don't answer are all kept until ended or
// found exited at the next start. A TUN connect's End waits for a launch under way,
// which finishes after End began and is ended at once; until Resume no helper is started.
TEST(LaunchedHelperSlotTest, CallersShareOneStartAndEveryStartIsEnded) {
  FakeHelperProgram program;
  LaunchedHelperSlot slot(program, program, 3);
  const auto sixAtOnce = [&slot] {
    std::atomic<int> answered{0};
    std::vector<std::thread> callers;
    for (int i = 0; i < 6; ++i) callers.emplace_back([&] { answered += slot.EnsureAnswering(); });
    for (std::thread& caller : callers) caller.join();
    return answered.load();
  };
  const auto state = [&] {
    return std::to_string(program.launches) + " started, " + std::to_string(program.running) + " running, " +
           std::to_string(slot.HeldHelperCount()) + " held";
  };
  EXPECT_EQ(sixAtOnce(), 6);
  EXPECT_EQ(state(), "1 started, 1 running, 1 held");
  slot.End();
  slot.Resume();
  program.answers = false;
  EXPECT_EQ(sixAtOnce(), 0);
  EXPECT_FALSE(slot.EnsureAnswering());
  EXPECT_EQ(state(), "3 started, 2 running, 2 held");
  program.CrashAll();
  EXPECT_FALSE(slot.EnsureAnswering());
  EXPECT_EQ(state(), "4 started, 1 running, 1 held");
  std::thread tunConnect;
  std::string whenEnded;
  program.onLaunch = [&] {  // End begins while this launch is under way
    tunConnect = std::thread([&] { slot.End(), whenEnded = state(); });
    for (int i = 0; i < 200 && program.running > 0; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  };
  EXPECT_FALSE(slot.EnsureAnswering());
  tunConnect.join();
  EXPECT_EQ(whenEnded, "5 started, 0 running, 0 held");
  program.onLaunch = nullptr;
  program.answers = true;
  EXPECT_FALSE(slot.EnsureAnswering());  // a latency test while the TUN connect runs
  EXPECT_EQ(state(), "5 started, 0 running, 0 held");
  slot.Resume();
  EXPECT_TRUE(slot.EnsureAnswering());
  slot.Close();
  EXPECT_FALSE(slot.EnsureAnswering());
  EXPECT_EQ(state(), "6 started, 0 running, 0 held");
}

}  // namespace
}  // namespace pelno
