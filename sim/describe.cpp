#include "sim/describe.h"

#include <cstdio>

#include "link/frame.h"
#include "link/trigger_states.h"
#include "sim/controller_state.h"
#include "sim/report_generator.h"

namespace orv::sim {
namespace {

constexpr int kListedStatesMax = 20;

const char* const kPageNames[kPageCount] = {"EMG trigger", "business trigger", "soft trigger",
                                            "BGM channel"};
const char* const kKeyNames[] = {"EMG",       "EMG Ack",     "EMG Reset",
                                 "Fault Ack", "Fault Reset", "EMG Message"};

std::string HexByte(unsigned value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%02X", value & 0xFFu);
  return text;
}

std::string DescribeSet(int page, std::span<const std::uint8_t> data) {
  std::string text = std::string("set ") + kPageNames[page];
  if (data.size() < 2) return text + " (data missing)";
  return text + " " + std::to_string(data[0]) + (data[1] != 0 ? " on" : " off");
}

std::string DescribeKey(std::span<const std::uint8_t> data) {
  if (data.empty()) return "operator key (code missing)";
  if (data[0] >= 1 && data[0] <= 6) return std::string("operator key ") + kKeyNames[data[0] - 1];
  return "operator key " + std::to_string(data[0]) + " (unknown)";
}

std::string DescribeCommand(std::uint8_t command, std::span<const std::uint8_t> data) {
  const std::string first = data.empty() ? "?" : std::to_string(data[0]);
  switch (command) {
    case cmd::kSupervisionTime:
      return "supervision time " + first + " s";
    case cmd::kSupervisionOnOff:
      return "supervision " + std::string(!data.empty() && data[0] != 0 ? "on" : "off");
    case cmd::kPanelKey:
      return DescribeKey(data);
    case cmd::kImpedanceCheck:
      return "impedance check";
    default:
      break;
  }
  const int page = PageOfSetCommand(command);
  if (page >= 0) return DescribeSet(page, data);
  return "unknown command " + HexByte(command);
}

std::string FaultList(std::uint8_t d0, std::uint8_t d1) {
  std::string list;
  for (int lamp = 0; lamp < kFaultLamps; ++lamp) {
    const std::uint8_t byte = lamp < 8 ? d0 : d1;
    if ((byte >> (lamp % 8)) & 1) list += std::string(list.empty() ? "" : ", ") + LampName(lamp);
  }
  return list.empty() ? "none" : list;
}

std::string PanelStatusList(std::uint16_t word) {
  std::string list;
  for (int lamp = 0; lamp < kFaultLamps; ++lamp) {
    if (word & kPanelStatusBits[static_cast<std::size_t>(lamp)])
      list += std::string(list.empty() ? "" : ", ") + LampName(lamp);
  }
  return list.empty() ? "none" : list;
}

std::string StateList(int page, std::span<const std::uint8_t> data) {
  const TriggerPage& info = kTriggerPages[static_cast<std::size_t>(page)];
  std::string list;
  int listed = 0;
  for (int n = 1; n <= info.size; ++n) {
    const std::size_t index = static_cast<std::size_t>((n - 1) / info.reply_bits_per_byte);
    const int bit = (n - 1) % info.reply_bits_per_byte;
    if (index >= data.size() || ((data[index] >> bit) & 1) == 0) continue;
    if (++listed > kListedStatesMax) return list + " ...";
    list += " " + std::to_string(n);
  }
  return list.empty() ? " none" : list;
}

std::string UnitLabel(int unit) {
  return unit == 0 ? "M0 " : "R" + std::to_string(unit) + " ";
}

std::string DescribeUnitReport(std::uint8_t kind, std::uint16_t value) {
  if ((kind >= 0x30 && kind <= 0x3F) || (kind >= 0x60 && kind <= 0x7F)) {
    const int unit = kind >= 0x60 ? kind - 0x60 : kind - 0x30;
    return "report TRG " + UnitLabel(unit) + BitText(value, 12);
  }
  const int unit = kind >= 0x80 ? kind - 0x80 : kind - 0x40;
  return "report BGM " + UnitLabel(unit) + BitText(value, 6);
}

}  // namespace

std::string DescribeRequest(std::uint8_t command, std::span<const std::uint8_t> data) {
  if (command == cmd::kFaultImage) return "poll fault image";
  const int page = PageOfStatusReply(command);
  if (page >= 0) return std::string("poll ") + kPageNames[page] + " states";
  return DescribeCommand(command, data);
}

std::string DescribeSent(std::uint8_t command, std::span<const std::uint8_t> data) {
  if (command == cmd::kReport && data.size() >= 3)
    return DescribeReport(data[0], static_cast<std::uint16_t>(data[1] << 8 | data[2]));
  if (command == cmd::kFaultImage && data.size() >= 2)
    return "fault image: " + FaultList(data[0], data[1]);
  const int page = PageOfStatusReply(command);
  if (page >= 0) return std::string(kPageNames[page]) + " states on:" + StateList(page, data);
  return "frame with command " + HexByte(command);
}

std::string DescribeReport(std::uint8_t kind, std::uint16_t value) {
  switch (kind) {
    case kPanelStatusKind: {
      char word[8];
      std::snprintf(word, sizeof word, "%04X", value);
      return std::string("panel status 0x") + word + ": " + PanelStatusList(value);
    }
    case 0x11:
      return "report EMG";
    case 0x12:
      return "report EMG Ack";
    case 0x13:
      return "report EMG Reset";
    case 0x14:
      return "report ALERT";
    case 0x15:
      return "report ALARM";
    case 0x16:
      return "report EMG PTT";
    case 0x21:
      return "report Fault " + BitText(value, 16);
    case 0x22:
      return "report Fault Ack";
    case 0x23:
      return "report Fault Reset";
    default:
      break;
  }
  if ((kind >= 0x30 && kind <= 0x4F) || (kind >= 0x60 && kind <= 0x9F))
    return DescribeUnitReport(kind, value);
  return "report " + HexByte(kind) + " value " + std::to_string(value) + " (no text)";
}

std::string HexBytes(std::span<const std::uint8_t> bytes) {
  std::string text;
  char pair[4];
  for (const std::uint8_t b : bytes) {
    std::snprintf(pair, sizeof pair, "%02X", b);
    if (!text.empty()) text += ' ';
    text += pair;
  }
  return text;
}

std::string BitText(std::uint16_t value, int width) {
  std::string text;
  for (int bit = width - 1; bit >= 0; --bit)
    text += ((value >> bit) & 1) ? '1' : '0';
  return text;
}

std::string LogLine(const std::string& clock, const char* direction,
                    std::span<const std::uint8_t> bytes, const std::string& meaning) {
  return clock + " " + direction + " " + HexBytes(bytes) + "  " + meaning;
}

}  // namespace orv::sim
