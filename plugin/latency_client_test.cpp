// Over a fake transport: the latency test, its streamed results and its cancel.
#include "plugin/latency_client.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "plugin/latency_stream.h"
#include "plugin/testing/encodable_maps.h"
#include "plugin/testing/fake_helper_transport.h"

namespace pelno {
namespace {

using flutter::EncodableList;
using testing::EncodableValue;
using testing::Entries;
using testing::FakeHelperTransport;
using testing::Map;

flutter::EncodableMap LatencyArguments(EncodableList tags) {
  return Entries(Map({{"requestId", EncodableValue("r")}, {"runtimeConfig", EncodableValue("{}")},
                      {"testUrl", EncodableValue("")}, {"nodeTags", EncodableValue(std::move(tags))}}));
}

// A line split across pieces, a blank line, a line without delay, the last line
// without its line feed: each result goes out as soon as the piece with its line
// feed has been read, before the next piece is.
TEST(LatencyClientTest, ResultsGoOutAsTheirLinesArriveAndTheReplyKeepsTheLast) {
  FakeHelperTransport helper({{"", {{"{\"pad\":\"" + std::string(6000, 'a') + "\"}\n{\"nodeTag\":\"A\",\"de"},
                                     {"layMs\":5}\n\n{\"nodeTag\":\"C\"}\r\n{\"nodeTag\":\"A\",\"delayMs\":7}\n"},
                                     {R"({"nodeTag":"B\u0009","delayMs":1})"}}}});
  const LatencyClient client{helper, [] { return true; }, [] { return true; }};
  std::vector<std::tuple<std::string, std::int32_t, int>> events;  // tag, delay, pieces read by then
  const EncodableValue reply = RunLatencyTest(
      LatencyArguments({EncodableValue(1), EncodableValue(""), EncodableValue("A"), EncodableValue("B\t")}),
      [&](const std::string& tag, std::int32_t delay) { events.emplace_back(tag, delay, helper.piecesRead()); },
      client);
  const decltype(events) expected = {{"A", 5, 2}, {"C", 0, 2}, {"A", 7, 2}, {"B\t", 1, 3}};
  EXPECT_EQ(events, expected);
  EXPECT_EQ(reply, Map({{"A", EncodableValue(7)}, {"B\t", EncodableValue(1)}, {"C", EncodableValue(0)}}));
  EXPECT_EQ(helper.log(), "POST /urltest " + BuildUrlTestBody("r", kDefaultTestUrl, {"A", "B\t"}, "{}") + ";");
}

TEST(LatencyClientTest, OnlyATestOrCancelWithWhatItNeedsReachesAHelper) {
  FakeHelperTransport helper(FakeHelperTransport::Replies{{"", {}}});
  int ensured = 0;
  bool helperAvailable = true, listenerIsHelper = true;
  const LatencyClient client{helper, [&] { return ++ensured, helperAvailable; }, [&] { return listenerIsHelper; }};
  const EncodableValue tags(EncodableList{EncodableValue("A")}), ignored = Map({{"status", EncodableValue("ignored")}});
  for (const EncodableValue& arguments : {Map({{"nodeTags", tags}}), Map({{"nodeTags", tags}, {"runtimeConfig", EncodableValue(5)}}),
                                          Map({{"nodeTags", EncodableValue("A")}, {"runtimeConfig", EncodableValue("{}")}})})
    EXPECT_EQ(RunLatencyTest(Entries(arguments), nullptr, client), Map({}));
  EXPECT_EQ(CancelLatencyTest(Entries(Map({{"requestId", EncodableValue(7)}})), client), ignored);
  EXPECT_EQ(ensured + helper.log().size(), 0u);
  const flutter::EncodableMap cancel = Entries(Map({{"requestId", EncodableValue("r\n1")}}));
  EXPECT_EQ(CancelLatencyTest(cancel, client), Map({{"status", EncodableValue("canceled")}}));
  listenerIsHelper = false;  // another program holds the port: the configuration stays here
  EXPECT_EQ(RunLatencyTest(LatencyArguments({EncodableValue("A")}), nullptr, client), Map({}));
  helperAvailable = false;  // none could be started
  EXPECT_EQ(RunLatencyTest(LatencyArguments({EncodableValue("A")}), nullptr, client), Map({}));
  EXPECT_EQ(CancelLatencyTest(cancel, client), ignored);
  EXPECT_EQ(helper.log(), "POST /cancel-urltest r\n1;");
}

}  // namespace
}  // namespace pelno
