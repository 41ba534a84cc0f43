#include "urltest/engine_output_reader.h"

#include <array>
#include <chrono>
#include <memory>
#include <system_error>

#include "base/detached_thread.h"

namespace pelno {
namespace {

constexpr DWORD kReadChunkBytes = 4096;
constexpr std::size_t kReaderStackReserve = 64 * 1024;

std::string ReadUntilEnd(HANDLE readEnd) {
  std::string kept;
  std::array<char, kReadChunkBytes> buffer;
  DWORD read = 0;
  while (::ReadFile(readEnd, buffer.data(), kReadChunkBytes, &read, nullptr) && read > 0) {
    if (kept.size() < kEngineOutputKeepBytes)
      kept.append(buffer.data(), std::min<std::size_t>(read, kEngineOutputKeepBytes - kept.size()));
  }
  return kept;
}

}  // namespace

bool EngineOutputReader::Start(UniqueHandle readEnd) {
  auto pipe = std::make_shared<UniqueHandle>(std::move(readEnd));
  auto result = std::make_shared<std::promise<std::string>>();
  kept_ = result->get_future();
  try {
    StartDetachedThread([pipe, result] { result->set_value(ReadUntilEnd(pipe->Get())); },
                        kReaderStackReserve);
  } catch (const std::system_error&) {
    kept_ = {};
    return false;
  }
  return true;
}

std::string EngineOutputReader::Finish() {
  if (!kept_.valid()) return {};
  if (kept_.wait_for(std::chrono::milliseconds(0)) != std::future_status::ready) return {};
  return kept_.get();
}

}  // namespace pelno
