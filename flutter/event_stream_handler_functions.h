// StreamHandlerFunctions<T>: a StreamHandler made of two callbacks; a missing
// callback succeeds without doing anything.
#pragma once

#include <functional>
#include <memory>
#include <utility>

#include "flutter/encodable_value.h"
#include "flutter/event_sink.h"
#include "flutter/event_stream_handler.h"

namespace flutter {

template <typename T>
using StreamHandlerListen = std::function<std::unique_ptr<StreamHandlerError<T>>(
    const T* arguments, std::unique_ptr<EventSink<T>>&& events)>;

template <typename T>
using StreamHandlerCancel = std::function<std::unique_ptr<StreamHandlerError<T>>(const T* arguments)>;

template <typename T = EncodableValue>
class StreamHandlerFunctions : public StreamHandler<T> {
 public:
  StreamHandlerFunctions(StreamHandlerListen<T> on_listen, StreamHandlerCancel<T> on_cancel)
      : on_listen_(std::move(on_listen)), on_cancel_(std::move(on_cancel)) {}
  ~StreamHandlerFunctions() override = default;

 protected:
  std::unique_ptr<StreamHandlerError<T>> OnListenInternal(
      const T* arguments, std::unique_ptr<EventSink<T>>&& events) override {
    if (on_listen_) {
      return on_listen_(arguments, std::move(events));
    }
    return nullptr;
  }
  std::unique_ptr<StreamHandlerError<T>> OnCancelInternal(const T* arguments) override {
    if (on_cancel_) {
      return on_cancel_(arguments);
    }
    return nullptr;
  }

 private:
  StreamHandlerListen<T> on_listen_;
  StreamHandlerCancel<T> on_cancel_;
};

}  // namespace flutter
