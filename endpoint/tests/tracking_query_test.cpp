#include "endpoint/tracking_query.h"

#include <gtest/gtest.h>

#include <string>

namespace korvanel::endpoint {
namespace {

// "测试" in UTF-8 and in GBK
const std::string kTestUtf8 = "\xE6\xB5\x8B\xE8\xAF\x95";
const std::string kTestGbk = "\xB2\xE2\xCA\xD4";

TEST(PercentDecode, DecodesEscapesAndKeepsEverythingElse) {
  struct Case {
    std::string in, out;
  };
  const Case cases[] = {
      {"", ""},
      {"SF123", "SF123"},
      {"%20SF1%20", " SF1 "},
      {"a+b", "a+b"},
      {"%2b%2B", "++"},
      {"%E6%B5%8B", "\xE6\xB5\x8B"},
      {"%", "%"},
      {"%4", "%4"},
      {"%zz1", "%zz1"},
      {"100%", "100%"},
      {"%00", std::string(1, '\0')},
      {"%u0041", "%u0041"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    EXPECT_EQ(PercentDecode(c.in), c.out);
  }
}

TEST(TrackingQuery, AcceptsOneNumberAndTypeHtml) {
  struct Case {
    std::string query;
    std::string number;  // the UTF-8 form looked up first
  };
  const Case cases[] = {
      {"yundanhao=SF1000000001&type=html", "SF1000000001"},
      {"type=html&yundanhao=SF1", "SF1"},
      {"yundanhao=%20SF1%20&type=html", " SF1 "},
      {"yundanhao=A+B&type=html", "A+B"},
      {"yundanhao=a=b&type=html", "a=b"},
      {"yundanhao=SF1&type=html&extra=1&", "SF1"},
      {"yundanhao=" + std::string(64, '9') + "&type=html", std::string(64, '9')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    TrackingQuery query = ParseTrackingQuery(c.query);
    ASSERT_TRUE(query.valid) << query.problem;
    ASSERT_FALSE(query.forms.empty());
    EXPECT_EQ(query.forms.front().utf8, c.number);
    EXPECT_EQ(query.forms.front().gbk, c.number);
  }
}

TEST(TrackingQuery, RejectsWhatNoWaybillCanBe) {
  std::string chinese32, chinese33;
  for (int i = 0; i < 16; ++i) chinese32 += "%E6%B5%8B%E8%AF%95";  // 32 characters
  chinese33 = chinese32 + "%E6%B5%8B";
  const std::string cases[] = {
      "",
      "type=html",
      "yundanhao=&type=html",
      "yundanhao&type=html",
      "yundanhao=SF1",
      "yundanhao=SF1&type=",
      "yundanhao=SF1&type=json",
      "yundanhao=SF1&type=HTML",
      "yundanhao=SF1&yundanhao=SF2&type=html",
      "yundanhao=SF1&type=html&type=html",
      "yundanhao=" + std::string(65, '9') + "&type=html",
      "yundanhao=" + std::string(10240, 'A') + "&type=html",
      "yundanhao=" + chinese33 + "&type=html",
      "yundanhao=SF%00&type=html",
      "yundanhao=SF%0D%0A1&type=html",
      "yundanhao=SF%7F&type=html",
  };
  for (const std::string& q : cases) {
    SCOPED_TRACE(q.substr(0, 80));
    TrackingQuery query = ParseTrackingQuery(q);
    EXPECT_FALSE(query.valid);
    EXPECT_FALSE(query.problem.empty());
  }
  // 32 Chinese characters are 96 bytes in UTF-8 but 64 in GBK, so they still fit.
  EXPECT_TRUE(ParseTrackingQuery("yundanhao=" + chinese32 + "&type=html").valid);
}

TEST(TrackingQuery, ReadsANumberAsUtf8AndAsGbk) {
  TrackingQuery utf8 = ParseTrackingQuery("yundanhao=%E6%B5%8B%E8%AF%95001&type=html");
  ASSERT_TRUE(utf8.valid);
  ASSERT_FALSE(utf8.forms.empty());
  EXPECT_EQ(utf8.forms.front().utf8, kTestUtf8 + "001");
  EXPECT_EQ(utf8.forms.front().gbk, kTestGbk + "001");

  for (const std::string& sent : {kTestGbk + "001", std::string("%B2%E2%CA%D4001")}) {
    SCOPED_TRACE(sent);
    TrackingQuery gbk = ParseTrackingQuery("yundanhao=" + sent + "&type=html");
    ASSERT_TRUE(gbk.valid);
    ASSERT_EQ(gbk.forms.size(), 1u);
    EXPECT_EQ(gbk.forms.front().utf8, kTestUtf8 + "001");
    EXPECT_EQ(gbk.forms.front().gbk, kTestGbk + "001");
  }

  // Bytes that are neither can name no stored waybill, but the request itself is fine.
  TrackingQuery neither = ParseTrackingQuery("yundanhao=%FF%FF&type=html");
  EXPECT_TRUE(neither.valid);
  EXPECT_TRUE(neither.forms.empty());
}

}  // namespace
}  // namespace korvanel::endpoint
