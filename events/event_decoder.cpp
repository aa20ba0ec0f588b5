#include "events/event_decoder.h"

#include <algorithm>
#include <cstdio>

namespace orv {
namespace {

const char* FixedEventText(std::uint8_t code) {
  switch (code) {
    case 0x11:
      return "EMG";
    case 0x12:
      return "EMG Ack";
    case 0x13:
      return "EMG Reset";
    case 0x14:
      return "ALERT";
    case 0x15:
      return "ALARM";
    case 0x16:
      return "EMG PTT";
    case 0x21:
      return "Fault ";
    case 0x22:
      return "Fault Ack";
    case 0x23:
      return "Fault Reset";
    default:
      return "";
  }
}

}  // namespace

std::string_view EventWord(std::uint8_t code) {
  return FixedEventText(code);
}

namespace {

std::string UnitLabel(int unit) {
  return unit == 0 ? "M0 " : "R" + std::to_string(unit) + " ";
}

// Entry of bit k (0..5) of unit u in a six-per-unit table.
int UnitEntry(int unit, int bit) {
  return unit * 6 + bit + 1;
}

}  // namespace

UnitEvent SplitUnitCode(std::uint8_t code) {
  if (code >= 0x30 && code <= 0x3F) return {UnitKind::kTrigger, code - 0x30};
  if (code >= 0x40 && code <= 0x4F) return {UnitKind::kBgm, code - 0x40};
  if (code >= 0x60 && code <= 0x7F) return {UnitKind::kTrigger, code - 0x60};
  if (code >= 0x80 && code <= 0x9F) return {UnitKind::kBgm, code - 0x80};
  return {};
}

std::string FormatBits(std::int32_t value, int width) {
  std::string bits;
  const int n = std::min(width, 16);
  for (int bit = n - 1; bit >= 0; --bit)
    bits += (value >> bit) & 1 ? '1' : '0';
  return bits;
}

EventDecoder::EventDecoder(TriggerStates& states, ClockFn clock)
    : states_(states), clock_(std::move(clock)) {}

std::string EventDecoder::LineHead(const LocalDateTime& now) const {
  char head[32];
  std::snprintf(head, sizeof head, "%02d/%02d %02d:%02d Event = ", now.month % 100, now.day % 100,
                now.hour % 100, now.minute % 100);
  return head;
}

EventRecord EventDecoder::DecodeEventReport(std::uint8_t code, std::int32_t value) {
  EventRecord record;
  record.time = clock_ ? clock_() : SystemLocalTime();
  record.code = code;
  record.value = value;
  std::string& line = record.text;
  line = LineHead(record.time) + FixedEventText(code);
  if (code == kFaultEventCode) line += FormatBits(value, 16);

  const UnitEvent unit_event = SplitUnitCode(code);
  if (unit_event.kind == UnitKind::kTrigger) {
    ApplyTriggerReport(unit_event.unit, value, record);
    line += "TRG " + UnitLabel(unit_event.unit) + FormatBits(value, 12);
  } else if (unit_event.kind == UnitKind::kBgm) {
    ApplyBgmReport(unit_event.unit, value, record);
    line += "BGM " + UnitLabel(unit_event.unit) + FormatBits(value, 6);
  }
  decoded_(record);
  return record;
}

void EventDecoder::ApplyTriggerReport(int unit, std::int32_t value, EventRecord& record) {
  // Units beyond the tables' sixty entries are shown and logged but recorded nowhere.
  if (unit >= kUnitsInTables) return;
  struct Group {
    int shift;
    int page;
  };
  for (const Group group : {Group{0, 0}, Group{6, 1}}) {
    const int bits = (value >> group.shift) & 0x3F;
    // Trigger reports only ever set entries; the status replies clear them.
    for (int k = 0; k < 6; ++k) {
      if ((bits & (1 << k)) == 0) continue;
      const TriggerUpdate update{group.page, UnitEntry(unit, k), 1};
      states_.States(update.page).Set(update.number, update.state);
      record.trigger_updates.push_back(update);
    }
  }
}

void EventDecoder::ApplyBgmReport(int unit, std::int32_t value, EventRecord& record) {
  if (unit >= kUnitsInTables) return;
  for (int k = 0; k < 6; ++k) {
    const TriggerUpdate update{kBgmPage, UnitEntry(unit, k),
                               static_cast<std::int16_t>((value >> k) & 1)};
    states_.BgmState.Set(update.number, update.state);
    record.trigger_updates.push_back(update);
  }
}

}  // namespace orv
