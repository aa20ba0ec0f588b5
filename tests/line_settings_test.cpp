#include "platform/line_settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

namespace orv {
namespace {

struct GoodCase {
  const char* text;
  LineSettings expected;
};

// Test names show the text, not the bytes of the case.
void PrintTo(const GoodCase& c, std::ostream* os) {
  *os << '"' << c.text << '"';
}

class ParseGoodSettings : public ::testing::TestWithParam<GoodCase> {};

TEST_P(ParseGoodSettings, GivesEveryField) {
  const std::optional<LineSettings> parsed = ParseLineSettings(GetParam().text);
  ASSERT_TRUE(parsed.has_value()) << GetParam().text;
  EXPECT_EQ(parsed->baud_rate, GetParam().expected.baud_rate);
  EXPECT_EQ(parsed->parity, GetParam().expected.parity);
  EXPECT_EQ(parsed->data_bits, GetParam().expected.data_bits);
  EXPECT_EQ(parsed->stop_bits, GetParam().expected.stop_bits);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseGoodSettings,
    ::testing::Values(GoodCase{"9600,N,8,1", {9600, Parity::kNone, 8, StopBits::kOne}},
                      GoodCase{"115200,e,7,2", {115200, Parity::kEven, 7, StopBits::kTwo}},
                      GoodCase{"1200,O,8,1.5", {1200, Parity::kOdd, 8, StopBits::kOneAndHalf}},
                      GoodCase{"19200,m,8,1", {19200, Parity::kMark, 8, StopBits::kOne}},
                      GoodCase{"4800,s,8,1", {4800, Parity::kSpace, 8, StopBits::kOne}},
                      GoodCase{"300,S,5,2", {300, Parity::kSpace, 5, StopBits::kTwo}},
                      GoodCase{"2400,E,6,1", {2400, Parity::kEven, 6, StopBits::kOne}},
                      GoodCase{"57600,o,8,2", {57600, Parity::kOdd, 8, StopBits::kTwo}},
                      GoodCase{"38400,M,7,1.5", {38400, Parity::kMark, 7, StopBits::kOneAndHalf}},
                      GoodCase{"14400,n,8,1", {14400, Parity::kNone, 8, StopBits::kOne}},
                      GoodCase{" 9600 , N , 8 , 1 ", {9600, Parity::kNone, 8, StopBits::kOne}}));

class ParseBadSettings : public ::testing::TestWithParam<const char*> {};

TEST_P(ParseBadSettings, GivesNothing) {
  EXPECT_EQ(ParseLineSettings(GetParam()), std::nullopt) << '"' << GetParam() << '"';
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseBadSettings,
                         ::testing::Values("", "abc", "9600,X,8,1", "9600,N,9,1", "9600,N,8,3",
                                           "-5,N,8,1", "9600,N,8", "9600", "9600,N", ",,,",
                                           "9600,N,8,1,", "9600,N,8,1,1", "0,N,8,1", "+9600,N,8,1",
                                           "96 00,N,8,1", "9600x,N,8,1", "99999999999,N,8,1",
                                           "9600,,8,1", "9600,NO,8,1", "9600,N,4,1", "9600,N,8,",
                                           "9600,N,8,1.0", "9600,N,8,0", "9600;N;8;1",
                                           "9600,N,08,1x"));

TEST(ParseLineSettings, ResultsDifferWhenTheTextsDo) {
  // Guards against a parser that returns one fixed value for every good text.
  EXPECT_NE(ParseLineSettings("9600,N,8,1"), ParseLineSettings("9600,N,8,2"));
  EXPECT_NE(ParseLineSettings("9600,N,8,1"), ParseLineSettings("9600,N,7,1"));
  EXPECT_NE(ParseLineSettings("9600,N,8,1"), ParseLineSettings("9600,E,8,1"));
  EXPECT_NE(ParseLineSettings("9600,N,8,1"), ParseLineSettings("4800,N,8,1"));
  EXPECT_EQ(ParseLineSettings("9600,n,8,1"), ParseLineSettings("9600,N,8,1"));
}

}  // namespace
}  // namespace orv
