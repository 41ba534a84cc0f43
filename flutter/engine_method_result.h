// EngineMethodResult<T>: the MethodResult handed to method call handlers. It
// encodes the answer with the channel's codec and sends it through the
// messenger's reply, from whatever thread answers. Only the first answer is
// sent; a result destroyed unanswered answers "not implemented", so the
// engine's response handle is always released.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "flutter/binary_messenger.h"
#include "flutter/method_codec.h"
#include "flutter/method_result.h"

namespace flutter {

template <typename T>
class EngineMethodResult : public MethodResult<T> {
 public:
  EngineMethodResult(BinaryReply reply_handler, const MethodCodec<T>* codec)
      : reply_handler_(std::move(reply_handler)), codec_(codec) {}
  ~EngineMethodResult() override {
    if (!answered_.load()) {
      SendOnce(nullptr, 0);
    }
  }

 protected:
  void SuccessInternal(const T* result) override {
    const std::unique_ptr<std::vector<uint8_t>> data = codec_->EncodeSuccessEnvelope(result);
    SendOnce(data->data(), data->size());
  }
  void ErrorInternal(const std::string& error_code,
                     const std::string& error_message,
                     const T* error_details) override {
    const std::unique_ptr<std::vector<uint8_t>> data =
        codec_->EncodeErrorEnvelope(error_code, error_message, error_details);
    SendOnce(data->data(), data->size());
  }
  void NotImplementedInternal() override { SendOnce(nullptr, 0); }

 private:
  void SendOnce(const uint8_t* data, size_t size) {
    if (answered_.exchange(true)) {
      return;
    }
    BinaryReply reply = std::move(reply_handler_);
    reply_handler_ = nullptr;
    if (reply) {
      reply(data, size);
    }
  }

  BinaryReply reply_handler_;
  const MethodCodec<T>* codec_;
  std::atomic<bool> answered_{false};
};

}  // namespace flutter
