// The helper's control port in memory: logs every request and answers it with the
// body pieces set for its path, each read after its delay, as long as the request's
// bound allows. A path with no pieces set, nor any set for "" (every other path),
// finds nothing listening.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "plugin/helper_transport.h"

namespace pelno::testing {

class FakeHelperTransport : public HelperTransport {
 public:
  struct Piece { std::string bytes; int delayMs = 0; };
  using Replies = std::map<std::string, std::vector<Piece>>;
  using Clock = std::chrono::steady_clock;
  // A piece's delay that never ends: the helper took the request and stays silent
  // until the request's bound or HangUp().
  static constexpr int kSilent = -1;

  explicit FakeHelperTransport(Replies answers = {}) : replies(std::move(answers)) {}

  std::unique_ptr<HelperReply> Send(std::string_view verb, std::string_view path, std::string_view body,
                                    HelperBound bound) override {
    if (onSend) onSend(path);
    std::lock_guard<std::mutex> guard(lock_);
    log_.append(verb).append(" ").append(path).append(" ").append(body).append(";");
    auto found = replies.find(std::string(path));
    if (found == replies.end()) found = replies.find("");
    if (found == replies.end()) return nullptr;
    auto reply = std::make_unique<Reply>(*this, bound == kStepBoundsOnly ? Clock::time_point::max() : Clock::now() + bound);
    reply->pieces.assign(found->second.begin(), found->second.end());
    return reply;
  }
  // From now on every reply ends cut, those waiting at once, as if the helper had gone.
  void HangUp() {
    std::lock_guard<std::mutex> guard(lock_);
    hungUp_ = true;
    wake_.notify_all();
  }
  std::string log() {  // "<verb> <path> <body>;" of every request so far
    std::lock_guard<std::mutex> guard(lock_);
    return log_;
  }
  int piecesRead() const { return piecesRead_; }  // of every reply so far

  Replies replies;  // changed only while no request is under way
  std::function<void(std::string_view path)> onSend;  // before each request is logged

 private:
  struct Reply : HelperReply {
    Reply(FakeHelperTransport& port, Clock::time_point deadline) : port(port), deadline(deadline) {}
    int Status() const override { return 200; }
    bool ReadChunk(std::string& chunk) override {
      if (pieces.empty()) return false;
      const int delayMs = pieces.front().delayMs;
      const auto due = delayMs == kSilent ? Clock::time_point::max() : Clock::now() + std::chrono::milliseconds(delayMs);
      const auto until = std::min(due, deadline);
      std::unique_lock<std::mutex> lock(port.lock_);
      if (until == Clock::time_point::max()) port.wake_.wait(lock, [this] { return port.hungUp_; });
      else port.wake_.wait_until(lock, until, [this] { return port.hungUp_; });
      if (port.hungUp_ || until < due) return false;
      chunk = std::move(pieces.front().bytes);
      pieces.pop_front();
      return ++port.piecesRead_, true;
    }
    FakeHelperTransport& port;
    Clock::time_point deadline;
    std::deque<Piece> pieces;
  };

  std::mutex lock_;
  std::condition_variable wake_;
  bool hungUp_ = false;
  std::string log_;
  std::atomic<int> piecesRead_{0};
};

}  // namespace pelno::testing
