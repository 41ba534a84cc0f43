// A stand-in for the helper's control port in tests: listens on 127.0.0.1:17891,
// records each request and answers it with scripted pieces, each after its delay.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/unique_handle.h"

namespace pelno::testing {

class ScriptedHelper {
 public:
  struct Request {
    std::string method, path, body;
  };
  struct Piece {
    std::string bytes;
    DWORD delayMs = 0;  // waited before the piece is written
  };
  using Script = std::function<std::vector<Piece>(const Request&)>;

  // A 200 head, close-delimited, followed by `body`.
  static std::string Reply(std::string_view body);

  explicit ScriptedHelper(Script script);
  ~ScriptedHelper();
  bool listening() const { return listener_.IsValid(); }
  std::vector<Request> requests();

 private:
  void Serve(UniqueSocket connection);

  Script script_;
  UniqueSocket listener_;
  std::mutex lock_;
  std::vector<Request> requests_;
  std::vector<std::thread> threads_;
  std::thread acceptor_;
};

}  // namespace pelno::testing
