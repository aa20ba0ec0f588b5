#include "events/event_detail.h"

#include <cstdio>
#include <string_view>

#include "events/event_decoder.h"
#include "link/fault_lamps.h"
#include "link/trigger_states.h"

namespace orv {
namespace {

constexpr int kFaultBits = 16;

struct Sentence {
  std::uint8_t code;
  const char* text;
};

// The codes whose line is a fixed word, said as the operator would say it.
constexpr Sentence kSentences[] = {
    {0x11, "Emergency raised"},    {0x12, "Emergency acknowledged"},
    {0x13, "Emergency reset"},     {0x14, "Alert raised"},
    {0x15, "Alarm raised"},        {0x16, "Emergency microphone talk key pressed"},
    {0x22, "Faults acknowledged"}, {0x23, "Faults reset"},
};

void Append(std::string& list, std::string_view item) {
  if (!list.empty()) list += ", ";
  list += item;
}

// The fault report's word is read in the panel status word's layout, the one 16-bit layout of
// the faults the panel knows: each bit is named by the lamp it lights there, and a bit that
// lights none says so rather than vanish.
std::string FaultDetail(std::int32_t value) {
  std::string detail;
  for (int bit = 0; bit < kFaultBits; ++bit) {
    if (((value >> bit) & 1) == 0) continue;
    const FaultLamps lamps = PanelStatusLamps(std::int32_t{1} << bit);
    std::string name = "bit " + std::to_string(bit) + " (no lamp)";
    for (std::size_t lamp = 0; lamp < kFaultLampCaptions.size(); ++lamp) {
      if (lamps[lamp]) name = kFaultLampCaptions[lamp];
    }
    Append(detail, name);
  }
  return detail.empty() ? "No fault" : detail;
}

// "EMG", "BUS", "Soft", "BGM": the first word of the page's default names.
std::string_view PageWord(int page) {
  const std::string_view prefix = kTriggerPages[static_cast<std::size_t>(page)].default_name_prefix;
  return prefix.substr(0, prefix.find(' '));
}

std::string UnitDetail(const EventRecord& record, const UnitEvent& unit,
                       const TriggerNameFn& name) {
  const bool bgm = unit.kind == UnitKind::kBgm;
  std::string detail;
  for (const TriggerUpdate& update : record.trigger_updates) {
    if (update.state == 0 || update.page < 0 || update.page >= kPageCount) continue;
    std::string item = std::string(PageWord(update.page)) + " " + std::to_string(update.number);
    const std::string given = name ? name(update.page, update.number) : std::string();
    // A trigger the site never named reads as its default ("EMG Trigger 13"): nothing to add.
    const std::string default_name =
        kTriggerPages[static_cast<std::size_t>(update.page)].default_name_prefix +
        std::to_string(update.number);
    if (!given.empty() && given != default_name) item += " " + given;
    Append(detail, item);
  }
  if (!detail.empty()) return detail;
  if (unit.unit >= EventDecoder::kUnitsInTables) {
    return "Unit " + std::to_string(unit.unit) + " is beyond the panel's 60 " +
           (bgm ? "BGM channels" : "triggers");
  }
  return bgm ? "No BGM channel on" : "No trigger set";
}

}  // namespace

std::string EventDetail(const EventRecord& record, const TriggerNameFn& name) {
  if (record.code == kFaultEventCode) return FaultDetail(record.value);
  const UnitEvent unit = SplitUnitCode(record.code);
  if (unit.kind != UnitKind::kNone) return UnitDetail(record, unit, name);
  for (const Sentence& sentence : kSentences) {
    if (sentence.code == record.code) return sentence.text;
  }
  char code[8];
  std::snprintf(code, sizeof code, "0x%02X", record.code);
  return std::string("Event code ") + code + " has no meaning known to the panel";
}

}  // namespace orv
