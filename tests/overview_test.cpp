// The overview's tiles from what the services keep retained on the broker: each message as the
// broker delivers it, and the tile it leaves; what is no service's changes nothing.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <QJsonDocument>
#include <QJsonObject>
#include <string>
#include <utility>
#include <vector>

#include "overview/overview_book.h"
#include "overview/overview_settings.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

using Messages = std::vector<std::pair<std::string, std::string>>;

// A conditions payload as the broker carries it (the publisher's fields; the overview reads
// kind, state and whether a shelf is there).
std::string Condition(const std::string& kind, const std::string& state, bool shelved = false) {
  return R"({"id":")" + kind + R"(-1","kind":")" + kind + R"(","name":"n","since":"t","state":")" +
         state + R"(")" + (shelved ? R"(,"shelvedUntil":"t","reason":"works")" : "") + "}";
}

TEST(OverviewBook, EachServicesRetainedTopicsMakeItsTile) {
  const std::string east = "orvandel/hall/east";
  const auto on = [&](const std::string& sub, const std::string& payload) {
    return std::pair(east + "/" + sub, payload);
  };
  struct Case {
    const char* what;
    Messages messages;
    // The tile of east afterwards: stale, link, alarms, faults, shelved, unacknowledged, worst.
    OverviewTile want;
  };
  const auto tile = [&](bool stale, std::string link, int alarms, int faults, int shelved,
                        int unacknowledged, TileWorst worst, bool link_condition = false,
                        std::string web = "") {
    return OverviewTile{east,           "east", stale,         std::move(link),
                        alarms,         faults, shelved,       unacknowledged,
                        link_condition, worst,  std::move(web)};
  };
  const Case cases[] = {
      {"online and answering, nothing stands",
       {on("status", "online"), on("link", "answering"), on("conditions", "[]")},
       tile(false, "answering", 0, 0, 0, 0, TileWorst::kQuiet)},
      // Its last will, or only ever offline: what it shows may be old.
      {"gone",
       {on("status", "online"), on("status", "offline")},
       tile(true, "", 0, 0, 0, 0, TileWorst::kQuiet)},
      {"a state before its status",
       {on("link", "answering")},
       tile(true, "answering", 0, 0, 0, 0, TileWorst::kQuiet)},
      {"an alarm outweighs a fault",
       {on("conditions",
           "[" + Condition("fault", "new") + "," + Condition("alarm", "acknowledged") + "]")},
       tile(true, "", 1, 1, 0, 1, TileWorst::kAlarm)},
      {"the sounder and the service count as faults",
       {on("conditions",
           "[" + Condition("sounder", "new") + "," + Condition("service", "new") + "]")},
       tile(true, "", 0, 2, 0, 2, TileWorst::kFault)},
      {"cleared and unacknowledged: nothing stands, still to acknowledge",
       {on("conditions", "[" + Condition("fault", "cleared") + "]")},
       tile(true, "", 0, 0, 0, 1, TileWorst::kQuiet)},
      {"a shelved alarm does not stand",
       {on("conditions", "[" + Condition("alarm", "acknowledged", true) + "]")},
       tile(true, "", 0, 0, 1, 0, TileWorst::kShelved)},
      {"the link's condition while its topic still says answering",
       {on("link", "answering"), on("conditions", "[" + Condition("link", "new") + "]")},
       tile(true, "answering", 0, 0, 0, 1, TileWorst::kLinkLost, true)},
      {"no reply",
       {on("link", "no-reply")},
       tile(true, "no-reply", 0, 0, 0, 0, TileWorst::kLinkLost)},
      {"a fault outweighs the link",
       {on("link", "disconnected"), on("conditions", "[" + Condition("fault", "new") + "]")},
       tile(true, "disconnected", 0, 1, 0, 1, TileWorst::kFault)},
      // What is not a payload of these topics leaves the tile as it was.
      {"not conditions",
       {on("conditions", "[" + Condition("fault", "new") + "]"), on("conditions", "{}"),
        on("conditions", "[{}]"), on("conditions", "[" + std::string(200, ' ') + "]x")},
       tile(true, "", 0, 1, 0, 1, TileWorst::kFault)},
      {"not a link state",
       {on("link", "answering"), on("link", "weather")},
       tile(true, "answering", 0, 0, 0, 0, TileWorst::kQuiet)},
      // The page opens it on a click: only a web address is a link.
      {"its web panel",
       {on("web", "https://hall-b.example:8443/")},
       tile(true, "", 0, 0, 0, 0, TileWorst::kQuiet, false, "https://hall-b.example:8443/")},
      {"not a web address",
       {on("web", "http://127.0.0.1:8081/"), on("web", "javascript:alert(1)")},
       tile(true, "", 0, 0, 0, 0, TileWorst::kQuiet)},
      {"too long",
       {on("web", "https://x.example/" + std::string(OverviewBook::kLongestWeb, 'a'))},
       tile(true, "", 0, 0, 0, 0, TileWorst::kQuiet)},
      {"other topics",
       {on("status", "online"), on("event", "{}"), on("fault/4", "1")},
       tile(false, "", 0, 0, 0, 0, TileWorst::kQuiet)},
  };
  for (const Case& c : cases) {
    OverviewBook book;
    for (const auto& [topic, payload] : c.messages)
      book.Take(topic, payload);
    ASSERT_EQ(book.Tiles().size(), 1u) << c.what;
    EXPECT_EQ(book.Tiles()[0], c.want) << c.what;
  }
}

TEST(OverviewBook, TilesAreBoundedAndARetiredServiceGoes) {
  OverviewBook book;
  // A topic without a base, or with one too long, is no service's; neither is an empty
  // payload for a service not seen.
  EXPECT_FALSE(book.Take("status", "online"));
  EXPECT_FALSE(book.Take(std::string(OverviewBook::kLongestBase + 1, 'a') + "/status", "online"));
  EXPECT_FALSE(book.Take("site/a/status", ""));
  EXPECT_FALSE(
      book.Take("site/a/conditions", "[" + std::string(OverviewBook::kLongestPayload, ' ') + "]"));
  EXPECT_TRUE(book.Tiles().empty());

  for (std::size_t i = 0; i < OverviewBook::kMostTiles + 2; ++i)
    book.Take("site/" + std::to_string(1000 + i) + "/status", "online");
  EXPECT_EQ(book.Tiles().size(), OverviewBook::kMostTiles);
  EXPECT_EQ(book.left_out(), 2u);
  EXPECT_EQ(book.Tiles().front().name, "1000");  // in the order of their topics

  // Its retained status taken off the broker: the service was retired.
  EXPECT_TRUE(book.Take("site/1000/status", ""));
  EXPECT_EQ(book.Tiles().size(), OverviewBook::kMostTiles - 1);
  // Back again, it has its tile again.
  EXPECT_TRUE(book.Take("site/1000/status", "online"));
  EXPECT_EQ(book.Tiles().front().name, "1000");
}

TEST(OverviewBook, TheJsonIsWhatThePageDraws) {
  OverviewBook book;
  book.Take("a/b/status", "online");
  book.Take("a/b/conditions", "[" + Condition("fault", "new") + "]");
  const QJsonObject json = QJsonDocument::fromJson(QByteArray::fromStdString(book.Json(
                                                       "connected to mqtt://b:1883", true)))
                               .object();
  EXPECT_EQ(json["tiles"][0].toObject(), (QJsonObject{{"base", "a/b"},
                                                      {"name", "b"},
                                                      {"stale", false},
                                                      {"link", ""},
                                                      {"alarms", 0},
                                                      {"faults", 1},
                                                      {"shelved", 0},
                                                      {"unacknowledged", 1},
                                                      {"worst", "fault"},
                                                      {"web", ""}}));
  EXPECT_EQ(json["leftOut"].toInteger(), 0);
  EXPECT_EQ(json["broker"].toString(), "connected to mqtt://b:1883");
  EXPECT_TRUE(json["connected"].toBool());
}

TEST(OverviewSettings, WhatItFollowsAndWhenItCannotRun) {
  // The settings file, then the filters followed, the refusal's start ("" runs) and its own topic.
  const std::string broker = "[MQTT]\nBroker=mqtt://127.0.0.1:1883\n";
  const std::string listen = "[Overview]\nListen=127.0.0.1:8090\n";
  using Filters = std::vector<std::string>;
  const std::tuple<std::string, Filters, std::string, std::string> cases[] = {
      {broker + listen, {"orvandel/#"}, "", "orvandel-overview/hall"},
      {broker + listen + "Follow=campus/+/status, a/#/b ,site-b/#\nTopic=control/room",
       {"campus/+/status", "site-b/#"},
       "",
       "control/room"},
      {broker + listen + "Follow=a/#/b", {}, "[Overview] Follow=", ""},
      {broker + listen + "Topic=a/#", {}, "[Overview] Topic=", ""},
      {listen, {"orvandel/#"}, "[MQTT] Broker=", ""},
      {broker, {"orvandel/#"}, "[Overview] Listen=", ""},
      {broker + "[Overview]\nListen=0.0.0.0:8090", {"orvandel/#"}, "[Overview] Listen=0.0.0.0", ""},
  };
  // More filters than it follows: the first ones are taken.
  std::string many = broker + listen + "Follow=";
  Filters first;
  for (std::size_t i = 0; i <= kMostFollowed; ++i) {
    many += "s/" + std::to_string(i) + "/#,";
    if (i < kMostFollowed) first.push_back("s/" + std::to_string(i) + "/#");
  }
  std::vector<std::tuple<std::string, Filters, std::string, std::string>> all(std::begin(cases),
                                                                              std::end(cases));
  all.emplace_back(many, first, "", "orvandel-overview/hall");
  for (const auto& [text, follow, refusal, topic] : all) {
    test::TempFolder folder;
    const auto file = folder.path() / "overview.ini";
    test::WriteBytes(file, text);
    chmod(file.c_str(), 0644);
    const OverviewSettings settings = LoadOverviewSettings(
        SiteSettings(file, nullptr, folder.path() / "none.ini"), nullptr, "hall");
    EXPECT_EQ(settings.follow, follow) << text;
    EXPECT_TRUE(settings.refusal.starts_with(refusal)) << text << ": " << settings.refusal;
    EXPECT_EQ(settings.refusal.empty(), refusal.empty()) << text;
    if (refusal.empty()) EXPECT_EQ(settings.mqtt.base_topic, topic) << text;
  }
}

}  // namespace
}  // namespace orv
