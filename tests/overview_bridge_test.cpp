// The control room's overview over a broker bridge: two real mosquitto brokers, the site's with
// the shipped bridge file. What the site's panel services keep retained there, their last wills
// and the central broker's own services make one set of tiles at the central broker.
#include <gtest/gtest.h>
#include <mosquitto.h>

#include <atomic>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "overview/overview_book.h"
#include "tests/loopback_servers.h"
#include "tests/mqtt_subscriber.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

// A client on libmosquitto's own thread; with a will, ended without a word it leaves the will.
class Client {
 public:
  Client(int port, const std::string& will_topic = "") {
    mosquitto_lib_init();
    mosq_ = mosquitto_new(nullptr, true, this);
    if (!will_topic.empty()) mosquitto_will_set(mosq_, will_topic.c_str(), 7, "offline", 1, true);
    mosquitto_publish_callback_set(
        mosq_, [](mosquitto*, void* self, int) { ++static_cast<Client*>(self)->published_; });
    mosquitto_message_callback_set(mosq_, [](mosquitto*, void* self, const mosquitto_message* m) {
      auto* client = static_cast<Client*>(self);
      const std::lock_guard<std::mutex> lock(client->mutex_);
      client->book_.Take(m->topic, std::string(static_cast<const char*>(m->payload),
                                               static_cast<std::size_t>(m->payloadlen)));
    });
    mosquitto_connect_callback_set(mosq_, [](mosquitto* m, void*, int rc) {
      if (rc == 0) mosquitto_subscribe(m, nullptr, "orvandel/#", 1);
    });
    EXPECT_EQ(mosquitto_connect(mosq_, "127.0.0.1", port, 60), MOSQ_ERR_SUCCESS);
    mosquitto_loop_start(mosq_);
  }
  ~Client() {
    if (mosq_ == nullptr) return;
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
  }
  // Gone without DISCONNECT: the broker publishes the will.
  void Vanish() {
    mosquitto_loop_stop(mosq_, true);
    mosquitto_destroy(mosq_);
    mosq_ = nullptr;
  }
  // Retained, acknowledged by the broker before it returns.
  bool Retain(const std::vector<std::pair<std::string, std::string>>& messages) {
    const int before = published_;
    for (const auto& [topic, payload] : messages)
      mosquitto_publish(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                        payload.data(), 1, true);
    const auto count = static_cast<int>(messages.size());
    return test::WaitUntil([&] { return published_ - before >= count; }, std::chrono::seconds(5));
  }
  // The tiles this client's subscription made: "name worst" or "name STALE", in topic order.
  std::string Tiles() const {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::string text;
    for (const OverviewTile& tile : book_.Tiles())
      text +=
          tile.base + " " + (tile.stale ? "STALE" : std::string(TileWorstName(tile.worst))) + ";";
    return text;
  }

 private:
  mosquitto* mosq_ = nullptr;
  std::atomic<int> published_{0};
  mutable std::mutex mutex_;
  OverviewBook book_;
};

std::string Shipped(int central_port) {
  std::ifstream in(ORV_BRIDGE_CONF);
  std::stringstream text;
  text << in.rdbuf();
  std::string conf = text.str();
  const std::string address = "central.example.org:1883";
  const std::size_t at = conf.find("address " + address);
  EXPECT_NE(at, std::string::npos) << conf;
  if (at != std::string::npos)
    conf.replace(at + 8, address.size(), "127.0.0.1:" + std::to_string(central_port));
  return conf;
}

TEST(OverviewBridge, TheCentralBrokerHoldsBothSitesTilesAndALostServiceGoesStale) {
  const test::TempFolder folder;
  fs::create_directories(folder.path() / "central");
  fs::create_directories(folder.path() / "site");
  const int central_port = test::FreeLoopbackPort();
  test::LoopbackBroker central(folder.path() / "central", central_port, "allow_anonymous true\n");
  ASSERT_TRUE(central.started()) << central.Log();
  const int site_port = test::FreeLoopbackPort();
  test::LoopbackBroker site(folder.path() / "site", site_port,
                            "allow_anonymous true\n" + Shipped(central_port));
  ASSERT_TRUE(site.started()) << site.Log();

  Client watching(central_port);
  const std::string fault =
      R"([{"id":"fault-7","kind":"fault","name":"Mains","since":"t","state":"new"}])";
  Client east(site_port, "orvandel/site-a/east/status");
  ASSERT_TRUE(east.Retain({{"orvandel/site-a/east/status", "online"},
                           {"orvandel/site-a/east/link", "answering"},
                           {"orvandel/site-a/east/conditions", fault}}));
  Client west(site_port);
  ASSERT_TRUE(west.Retain(
      {{"orvandel/site-a/west/status", "online"}, {"orvandel/site-a/west/conditions", "[]"}}));
  Client room(central_port);
  ASSERT_TRUE(room.Retain(
      {{"orvandel/room/main/status", "online"}, {"orvandel/room/main/link", "no-reply"}}));
  const std::string all =
      "orvandel/room/main link;orvandel/site-a/east fault;orvandel/site-a/west quiet;";
  EXPECT_TRUE(test::WaitUntil([&] { return watching.Tiles() == all; }, std::chrono::seconds(10)))
      << watching.Tiles() << "\n"
      << site.Log();

  // Retained across the bridge: an overview started later sees the same.
  {
    Client later(central_port);
    EXPECT_TRUE(test::WaitUntil([&] { return later.Tiles() == all; }, std::chrono::seconds(10)))
        << later.Tiles();
  }

  // A service killed at the site: its will crosses the bridge.
  east.Vanish();
  EXPECT_TRUE(
      test::WaitUntil([&] { return watching.Tiles().find("east STALE;") != std::string::npos; },
                      std::chrono::seconds(10)))
      << watching.Tiles();
  EXPECT_NE(watching.Tiles().find("west quiet;"), std::string::npos) << watching.Tiles();
}

}  // namespace
}  // namespace orv
