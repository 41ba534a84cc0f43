#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "flutter/method_result_functions.h"
#include "flutter/standard_message_codec.h"
#include "flutter/standard_method_codec.h"

namespace flutter {
namespace {

using Bytes = std::vector<uint8_t>;
using EV = EncodableValue;

Bytes Hex(std::string digits) {
  std::erase(digits, ' ');
  Bytes bytes;
  for (size_t i = 0; i + 1 < digits.size(); i += 2) bytes.push_back(std::stoi(digits.substr(i, 2), nullptr, 16));
  return bytes;
}

Bytes Encode(const EV& value) { return *StandardMessageCodec::GetInstance().EncodeMessage(value); }

TEST(StandardMessageCodecTest, EncodesEveryTypeByteForByteAndDecodesItBack) {
  const struct { EV value; const char* bytes; } cases[] = {
      {EV(), "00"}, {EV(true), "01"}, {EV(false), "02"}, {EV(int32_t{-2}), "03 feffffff"},
      {EV(int64_t{1}), "04 0100000000000000"}, {EV(1.5), "06 00000000000000 000000000000f83f"},
      {EV("h\xc3\xa9"), "07 03 68c3a9"}, {EV(Bytes{1, 2}), "08 02 0102"},
      {EV(std::vector<int32_t>{1}), "09 01 0000 01000000"},
      {EV(std::vector<int64_t>{-1}), "0a 01 000000000000 ffffffffffffffff"},
      {EV(std::vector<double>{0.5}), "0b 01 000000000000 000000000000e03f"},
      {EV(std::vector<float>{1.0f}), "0e 01 0000 0000803f"},
      {EV(EncodableList{EV(1), EV("a")}), "0c 02 03 01000000 07 01 61"},
      // Padding counts from the start of the message: odd offsets inside a list.
      {EV(EncodableList{EV("a"), EV(2.0)}), "0c 02 07 01 61 06 0000 0000000000000040"},
      {EV(EncodableList{EV(true), EV(std::vector<int32_t>{7})}), "0c 02 01 09 01 000000 07000000"},
      // Keys in order: by alternative, then by value.
      {EV(EncodableMap{{EV("a"), EV()}, {EV(2), EV(true)}, {EV(1), EV(false)}}),
       "0d 03 03 01000000 02 03 02000000 01 07 01 61 00"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(Encode(c.value), Hex(c.bytes));
    const auto decoded = StandardMessageCodec::GetInstance().DecodeMessage(Hex(c.bytes));
    ASSERT_TRUE(decoded);
    EXPECT_EQ(*decoded, c.value);
  }
}

TEST(StandardMessageCodecTest, WritesSizesInOneThreeOrFiveBytes) {
  const struct {
    size_t size;
    const char* prefix;
  } cases[] = {{253, "07 fd"}, {254, "07 fe fe00"}, {65535, "07 fe ffff"}, {65536, "07 ff 00000100"}};
  for (const auto& c : cases) {
    const EV value(std::string(c.size, 'x'));
    const Bytes bytes = Encode(value);
    const Bytes prefix = Hex(c.prefix);
    ASSERT_EQ(bytes.size(), prefix.size() + c.size);
    EXPECT_TRUE(std::equal(prefix.begin(), prefix.end(), bytes.begin())) << c.size;
    EXPECT_EQ(*StandardMessageCodec::GetInstance().DecodeMessage(bytes), value);
  }
}

TEST(StandardMessageCodecTest, RefusesTruncatedAndMalformedInput) {
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "0c01";
  const std::string cases[] = {
      "",                    // nothing
      "03 0102",             // integer cut short
      "07 05 6162",          // string longer than the data
      "07 fe 01",            // size cut short
      "05 01 31",            // legacy big integer
      "0f",                  // unknown type
      "0c ffffffffff",       // list larger than the data
      "0d 02 00 00",         // map with a missing pair
      "0a 01 00",            // typed list without its padding and data
      "06 00",               // double cut in its padding
      "00 00",               // bytes after the value
      deep + "00",           // nesting too deep
  };
  for (const std::string& c : cases)
    EXPECT_FALSE(StandardMessageCodec::GetInstance().DecodeMessage(Hex(c))) << c.substr(0, 12);
}

TEST(StandardMethodCodecTest, EncodesCallsAndEnvelopes) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const EV ok("ok"), details(int32_t{7});
  EXPECT_EQ(*codec.EncodeMethodCall(MethodCall<EV>("go", nullptr)), Hex("07 02 676f 00"));
  EXPECT_EQ(*codec.EncodeMethodCall(MethodCall<EV>("go", std::make_unique<EV>(true))), Hex("07 02 676f 01"));
  EXPECT_EQ(*codec.EncodeSuccessEnvelope(&ok), Hex("00 07 02 6f6b"));
  EXPECT_EQ(*codec.EncodeSuccessEnvelope(), Hex("00 00"));
  EXPECT_EQ(*codec.EncodeErrorEnvelope("e", "m", &details), Hex("01 07 01 65 07 01 6d 03 07000000"));
  EXPECT_EQ(*codec.EncodeErrorEnvelope("e"), Hex("01 07 01 65 00 00"));
}

TEST(StandardMethodCodecTest, DecodesCallsAndRefusesOthers) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const auto call = codec.DecodeMethodCall(Hex("07 01 63 0d 01 07 01 6b 03 05000000"));
  ASSERT_TRUE(call);
  EXPECT_EQ(call->method_name(), "c");
  ASSERT_TRUE(call->arguments());
  EXPECT_EQ(*call->arguments(), EV(EncodableMap{{EV("k"), EV(5)}}));
  EXPECT_EQ(codec.DecodeMethodCall(Hex("07 01 63 00"))->arguments(), nullptr);
  for (const char* bad : {"03 01000000 00", "07 01 63", "07 01 63 00 00", ""})
    EXPECT_FALSE(codec.DecodeMethodCall(Hex(bad))) << bad;
}

TEST(StandardMethodCodecTest, ProcessesEachReplyEnvelopeOnce) {
  const struct { const char* bytes; bool accepted; const char* outcome; } cases[] = {
      {"00 07 02 6f6b", true, "success ok"}, {"01 07 01 65 07 01 6d 03 07000000", true, "error e m 7"},
      {"01 07 01 65 00 00", true, "error e  -"}, {"", true, "not implemented"},
      {"02 00", false, ""}, {"00", false, ""}, {"01 03 01000000 00 00", false, ""}, {"00 00 00", false, ""},
  };
  for (const auto& c : cases) {
    std::string outcome;
    MethodResultFunctions<EV> result(
        [&](const EV* value) { outcome += "success " + std::get<std::string>(*value); },
        [&](const std::string& code, const std::string& message, const EV* details) {
          outcome += "error " + code + " " + message + " " + (details ? std::to_string(details->LongValue()) : "-");
        },
        [&] { outcome += "not implemented"; });
    const Bytes bytes = Hex(c.bytes);
    const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
    EXPECT_EQ(codec.DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result), c.accepted) << c.bytes;
    EXPECT_EQ(outcome, c.outcome) << c.bytes;
  }
}

}  // namespace
}  // namespace flutter
