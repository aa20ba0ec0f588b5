#pragma once

// The site's overview: one tile per panel service that publishes on the broker, built from the
// retained topics every service already keeps there (its status with the broker's last will,
// its link, its conditions). Nothing here knows where the messages come from: one broker of one
// machine, or a central one that bridges many sites', is the same to it.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

// How bad a tile is, from the best to the worst.
enum class TileWorst { kQuiet, kShelved, kLinkLost, kFault, kAlarm };
std::string_view TileWorstName(TileWorst worst);  // "quiet", "shelved", "link", "fault", "alarm"

struct OverviewTile {
  std::string base;  // the service's base topic: "orvandel/hall/east"
  std::string name;  // its last level: "east"
  // The broker holds "offline" for it (its last will, or its own stop), or has never said it
  // is online: what the tile shows may be old.
  bool stale = true;
  std::string link;  // "answering", "no-reply", "disconnected"; "" until known
  int alarms = 0;    // standing
  int faults = 0;    // standing: lamps, the sounder, the service
  int shelved = 0;
  int unacknowledged = 0;       // standing or cleared, not yet acknowledged
  bool link_condition = false;  // the link's condition stands, not shelved
  TileWorst worst = TileWorst::kQuiet;
  // Where its web panel opens (its /web topic): an http or https URL, "" when it has none.
  std::string web;

  bool operator==(const OverviewTile&) const = default;
};

class OverviewBook {
 public:
  // More services than any site has; the rest are counted, not shown.
  static constexpr std::size_t kMostTiles = 256;
  // A base topic and a payload longer than these are not a service's.
  static constexpr std::size_t kLongestBase = 256;
  static constexpr std::size_t kLongestPayload = 256 * 1024;
  static constexpr std::size_t kLongestWeb = 512;

  // A message the broker delivered. Topics ending in /status, /link, /conditions or /web give
  // their service's base; anything else is ignored. True when a tile changed.
  bool Take(std::string_view topic, std::string_view payload);

  // In the order of their base topics.
  std::vector<OverviewTile> Tiles() const;
  // Services that would have made a tile past kMostTiles.
  std::size_t left_out() const { return left_out_; }
  // Every tile goes: a client that connects again is sent every retained value again, and a
  // service retired meanwhile would otherwise stay.
  void Clear() { tiles_.clear(); }

  // {"tiles":[{"base":…,"name":…,"stale":false,"link":…,"alarms":0,…,"worst":"fault","web":…}],
  //  "leftOut":0,"broker":"connected to mqtt://…","connected":true}: what the overview page
  // draws, with the overview's own broker state (its tiles are old while it is not connected).
  std::string Json(std::string_view broker, bool connected) const;

 private:
  std::map<std::string, OverviewTile, std::less<>> tiles_;
  std::size_t left_out_ = 0;
};

}  // namespace orv
