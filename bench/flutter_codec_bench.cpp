// Encoding and decoding a traffic snapshot map of 1,000 process entries with the
// standard method codec (as a success reply), beside a plain copy of the same
// bytes. Prints the median and the 99th percentile of each, per operation.
// A report, not a test: run it through bench/run-flutter-codec.sh.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "flutter/method_result_functions.h"
#include "flutter/standard_method_codec.h"

namespace {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using Clock = std::chrono::steady_clock;

EncodableValue TrafficMap(int entries) {
  EncodableList processes;
  for (int i = 0; i < entries; ++i) {
    const int64_t n = i;
    processes.push_back(EncodableValue(EncodableMap{
        {EncodableValue("processName"), EncodableValue("process-" + std::to_string(i) + ".exe")},
        {EncodableValue("policy"), EncodableValue(i % 2 ? "proxy" : "direct")},
        {EncodableValue("totalBytes"), EncodableValue(n * 1048576)},
        {EncodableValue("uploadBytesPerSecond"), EncodableValue(n * 17)},
        {EncodableValue("downloadBytesPerSecond"), EncodableValue(n * 91)},
        {EncodableValue("durationSeconds"), EncodableValue(n * 3)},
        {EncodableValue("status"), EncodableValue("active")},
        {EncodableValue("method"), EncodableValue("tcp")},
        {EncodableValue("host"), EncodableValue("host" + std::to_string(i) + ".example.net:443")},
    }));
  }
  return EncodableValue(EncodableMap{
      {EncodableValue("uploadBytesPerSecond"), EncodableValue(int64_t{123456})},
      {EncodableValue("downloadBytesPerSecond"), EncodableValue(int64_t{7654321})},
      {EncodableValue("uploadTotalBytes"), EncodableValue(int64_t{1} << 33)},
      {EncodableValue("downloadTotalBytes"), EncodableValue(int64_t{1} << 36)},
      {EncodableValue("processes"), EncodableValue(std::move(processes))},
  });
}

template <typename Work>
std::vector<double> Time(int rounds, Work work) {
  std::vector<double> micros;
  for (int i = 0; i < rounds; ++i) {
    const auto start = Clock::now();
    work();
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(micros.begin(), micros.end());
  return micros;
}

void Print(const char* what, const std::vector<double>& micros) {
  std::printf("%-34s p50 %9.1f us  p99 %9.1f us\n", what, micros[micros.size() / 2],
              micros[micros.size() * 99 / 100]);
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
  const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
  const EncodableValue map = TrafficMap(1000);
  const std::vector<uint8_t> bytes = *codec.EncodeSuccessEnvelope(&map);

  size_t sink = 0;
  const auto encode = Time(rounds, [&] { sink += codec.EncodeSuccessEnvelope(&map)->size(); });
  const auto decode = Time(rounds, [&] {
    flutter::MethodResultFunctions<EncodableValue> result(
        [&](const EncodableValue* value) { sink += value->index(); }, nullptr, nullptr);
    if (!codec.DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result)) {
      std::abort();
    }
  });
  const auto copy = Time(rounds, [&] {
    std::vector<uint8_t> duplicate(bytes.size());
    std::memcpy(duplicate.data(), bytes.data(), bytes.size());
    sink += duplicate[bytes.size() / 2];
  });

  std::printf("traffic map: 1000 entries, %zu bytes encoded, %d rounds\n", bytes.size(), rounds);
  Print("encode (success envelope):", encode);
  Print("decode (envelope to value):", decode);
  Print("plain copy of the same bytes:", copy);
  std::printf("encode %.0fx, decode %.0fx the copy (p50)\n",
              encode[rounds / 2] / std::max(copy[rounds / 2], 0.001),
              decode[rounds / 2] / std::max(copy[rounds / 2], 0.001));
  return sink == 0 ? 1 : 0;
}
