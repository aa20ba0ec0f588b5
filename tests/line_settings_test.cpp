#include "platform/line_settings.h"

#include <gtest/gtest.h>

#include <optional>
#include <utility>

namespace orv {
namespace {

TEST(ParseLineSettings, GoodTextsGiveEveryFieldAndAnythingElseNothing) {
  using P = Parity;
  using S = StopBits;
  const std::pair<const char*, LineSettings> good[] = {
      {"9600,N,8,1", {9600, P::kNone, 8, S::kOne}},
      {"115200,e,7,2", {115200, P::kEven, 7, S::kTwo}},
      {"1200,O,8,1.5", {1200, P::kOdd, 8, S::kOneAndHalf}},
      {"19200,m,6,1", {19200, P::kMark, 6, S::kOne}},
      {"300,S,5,2", {300, P::kSpace, 5, S::kTwo}},
      {"38400,E,7,1.5", {38400, P::kEven, 7, S::kOneAndHalf}},
      {"57600,o,8,2", {57600, P::kOdd, 8, S::kTwo}},
      {"2400,M,8,1", {2400, P::kMark, 8, S::kOne}},
      {"14400,n,8,1", {14400, P::kNone, 8, S::kOne}},
      {" 4800 , s , 8 , 1 ", {4800, P::kSpace, 8, S::kOne}}};
  for (const auto& row : good)
    EXPECT_EQ(ParseLineSettings(row.first), row.second) << row.first;
  // Wrong shape, then a field out of its range.
  for (const char* text : {"", "abc", "9600", "9600,N", "9600,N,8", ",,,", "9600,,8,1", "9600,N,8,",
                           "9600,N,8,1,", "9600,N,8,1,1", "9600;N;8;1"}) {
    EXPECT_EQ(ParseLineSettings(text), std::nullopt) << '"' << text << '"';
  }
  for (const char* text :
       {"0,N,8,1", "-5,N,8,1", "+9600,N,8,1", "96 00,N,8,1", "9600x,N,8,1", "99999999999,N,8,1",
        "9600,X,8,1", "9600,NO,8,1", "9600,N,4,1", "9600,N,9,1", "9600,N,08x,1", "9600,N,8,0",
        "9600,N,8,3", "9600,N,8,1.0"}) {
    EXPECT_EQ(ParseLineSettings(text), std::nullopt) << '"' << text << '"';
  }
}

}  // namespace
}  // namespace orv
