// The body of POST /urltest read back.
#include "urltest/url_test_request.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

namespace pelno {
namespace {

const std::string kV2 = "PELNOVPN_URLTEST_V2\n", kExample = kV2 + "2\nr1\n1\nu\n1\n1\nA\n2\n{}";

// "requestId|testUrl|tag,tag|config", or "refused".
std::string Parsed(const std::string& body) {
  UrlTestRequest r;
  if (!ParseUrlTestRequest(body, r)) return "refused";
  std::string tags;
  for (const std::string& tag : r.nodeTags) tags += (tags.empty() ? "" : ",") + tag;
  return r.requestId + "|" + r.testUrl + "|" + tags + "|" + r.config;
}

TEST(UrlTestRequest, ParsesBothVersionsAndRefusesMalformedBodies) {
  const std::pair<std::string, std::string> cases[] = {
      {kExample, "r1|u|A|{}"},
      {kExample + "\nanything", "r1|u|A|{}"},
      {kV2 + "2\nr11\nu1\n1\nA2\n{}", "r1|u|A|{}"},  // optional line feeds absent
      {"PELNOVPN_URLTEST_V1\n1\nu\n1\n1\nA\n2\n{}", "|u|A|{}"},
      {kV2 + "0\n1\nu\n4\n0\n1\nA\n0\n1\nA\n2\n{}", "|u|A,A|{}"},
      {kV2 + "0\n1\nu\n1\n0\n0\n", "|u||"},  // no tag, no config: the run refuses it
      {kV2 + "2\n\"\n3\nu\"\n1\n4\na\nb\"3\n{\n}", "\"\n|u\"\n|a\nb\"|{\n}"},
      {"PELNOVPN_URLTEST_V2", "refused"}, {"\xEF\xBB\xBF" + kExample, "refused"}, {" " + kExample, "refused"},
      {kV2 + "2\nr1\n1\nu\n1\n1\nA\n3\n{}", "refused"},   // length past the end
      {kV2 + "2\nr1\n1\nu\n2\n1\nA\n2\n{}", "refused"},   // count beyond the fields
      {kV2 + "-1\nr1\n1\nu\n1\n1\nA\n2\n{}", "refused"},  // -1 is 4294967295
      {kV2 + "2\nr1\n1\nu\n1", "refused"},
  };
  for (const auto& [body, parsed] : cases) EXPECT_EQ(Parsed(body), parsed) << body;
  EXPECT_EQ(std::pair(ReadUnsigned32(" +12x"), ReadUnsigned32("99999999999")), std::pair(12u, 4294967295u));
}

}  // namespace
}  // namespace pelno
