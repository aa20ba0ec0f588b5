#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace orv {

// One page of the trigger bank: everything that differs between the EMG, business, soft and BGM
// pages, so that every routine serves all four from this table instead of four copies.
struct TriggerPage {
  const char* list_prefix;           // item text in the page list, before the size
  const char* default_name_prefix;   // a missing name reads as this followed by its number
  const char* ini_section;           // where the names are stored
  const char* ini_key_prefix;        // key of trigger n: this followed by n
  std::int16_t size;                 // entries 1..size
  std::uint8_t set_command;          // sets one trigger: number, state
  std::uint8_t status_request;       // asks for the page's bit image
  std::uint8_t reply_bytes;          // data bytes of that reply
  std::uint8_t reply_bits_per_byte;  // bits used in each, least significant first
};

inline constexpr int kPageCount = 4;
inline constexpr int kListedPages = 3;  // the BGM page is handled everywhere but never listed
inline constexpr int kBgmPage = 3;

inline constexpr std::array<TriggerPage, kPageCount> kTriggerPages{{
    {"EMG Trigger 1-", "EMG Trigger ", "ETrgName", "ETRG ", 60, 19, 8, 10, 6},
    {"Business Trigger 1-", "BUS Trigger ", "BTrgName", "BTRG ", 60, 20, 9, 10, 6},
    {"Soft Trigger 1-", "Soft Trigger ", "VTrgName", "VTRG ", 120, 18, 7, 15, 8},
    {"BGM Channel 1-", "BGM ", "BGMName", "BGM ", 60, 23, 10, 10, 6},
}};

// The page whose status reply carries this command code, or -1.
constexpr int PageOfStatusReply(std::uint8_t command) {
  for (int page = 0; page < kPageCount; ++page) {
    if (kTriggerPages[static_cast<std::size_t>(page)].status_request == command) return page;
  }
  return -1;
}

// The page this set command switches, or -1.
constexpr int PageOfSetCommand(std::uint8_t command) {
  for (int page = 0; page < kPageCount; ++page) {
    if (kTriggerPages[static_cast<std::size_t>(page)].set_command == command) return page;
  }
  return -1;
}

// On/off states of one page, indexed by trigger number from 1. Reads and writes outside 1..size
// are ignored, so no report or reply can write past a table.
class TriggerStateTable {
 public:
  explicit TriggerStateTable(std::int16_t size) : entries_(static_cast<std::size_t>(size) + 1) {}

  std::int16_t size() const { return static_cast<std::int16_t>(entries_.size() - 1); }
  std::int16_t Get(int n) const { return InRange(n) ? entries_[static_cast<std::size_t>(n)] : 0; }
  void Set(int n, std::int16_t value) {
    if (InRange(n)) entries_[static_cast<std::size_t>(n)] = value;
  }
  void Clear() { std::fill(entries_.begin(), entries_.end(), 0); }

 private:
  bool InRange(int n) const { return n >= 1 && n <= size(); }
  std::vector<std::int16_t> entries_;
};

// One write of a trigger state by a report or a reply: page (0..3), trigger number, 1 on, 0 off.
struct TriggerUpdate {
  int page = 0;
  int number = 0;
  std::int16_t state = 0;
};

// The controller's trigger and BGM states as last reported, one table per page. The link owns
// them; the event decoder and the operator panel write through it.
struct TriggerStates {
  TriggerStateTable EmgTriggerState{60};
  TriggerStateTable BusTriggerState{60};
  TriggerStateTable SoftTriggerState{120};
  TriggerStateTable BgmState{60};

  TriggerStateTable& States(int page) {
    switch (page) {
      case 1:
        return BusTriggerState;
      case 2:
        return SoftTriggerState;
      case 3:
        return BgmState;
      default:
        return EmgTriggerState;
    }
  }
  const TriggerStateTable& States(int page) const {
    return const_cast<TriggerStates*>(this)->States(page);
  }
};

}  // namespace orv
