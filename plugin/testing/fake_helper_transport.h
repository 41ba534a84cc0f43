// The helper's control port in memory: logs every request and answers it with the
// body pieces set for its path, each read after its delay. A path with no pieces
// set, nor any set for "" (every other path), finds nothing listening.
#pragma once

#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "plugin/helper_transport.h"

namespace pelno::testing {

class FakeHelperTransport : public HelperTransport {
 public:
  struct Piece { std::string bytes; int delayMs = 0; };
  using Replies = std::map<std::string, std::vector<Piece>>;

  explicit FakeHelperTransport(Replies answers = {}) : replies(std::move(answers)) {}

  std::unique_ptr<HelperReply> Send(std::string_view verb, std::string_view path, std::string_view body) override {
    std::lock_guard<std::mutex> guard(lock_);
    log_.append(verb).append(" ").append(path).append(" ").append(body).append(";");
    auto found = replies.find(std::string(path));
    if (found == replies.end()) found = replies.find("");
    if (found == replies.end()) return nullptr;
    auto reply = std::make_unique<Reply>(piecesRead_);
    reply->pieces.assign(found->second.begin(), found->second.end());
    return reply;
  }
  std::string log() {  // "<verb> <path> <body>;" of every request so far
    std::lock_guard<std::mutex> guard(lock_);
    return log_;
  }
  int piecesRead() const { return piecesRead_; }  // of every reply so far

  Replies replies;  // changed only while no request is under way

 private:
  struct Reply : HelperReply {
    explicit Reply(std::atomic<int>& read) : read(read) {}
    int Status() const override { return 200; }
    bool ReadChunk(std::string& chunk) override {
      if (pieces.empty()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(pieces.front().delayMs));
      chunk = std::move(pieces.front().bytes);
      pieces.pop_front();
      return ++read, true;
    }
    std::atomic<int>& read;
    std::deque<Piece> pieces;
  };

  std::mutex lock_;
  std::string log_;
  std::atomic<int> piecesRead_{0};
};

}  // namespace pelno::testing
