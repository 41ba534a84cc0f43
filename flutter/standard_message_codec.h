// StandardMessageCodec: EncodableValue in Flutter's standard binary format.
#pragma once

#include <memory>
#include <vector>

#include "flutter/encodable_value.h"
#include "flutter/message_codec.h"

namespace flutter {

class StandardMessageCodec : public MessageCodec<EncodableValue> {
 public:
  // The shared, stateless instance.
  static const StandardMessageCodec& GetInstance();

  ~StandardMessageCodec() override;
  StandardMessageCodec(const StandardMessageCodec&) = delete;
  StandardMessageCodec& operator=(const StandardMessageCodec&) = delete;

 protected:
  StandardMessageCodec();

  std::unique_ptr<EncodableValue> DecodeMessageInternal(const uint8_t* binary_message,
                                                        const size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMessageInternal(
      const EncodableValue& message) const override;
};

}  // namespace flutter
