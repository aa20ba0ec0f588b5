#include "sim/controller_state.h"

namespace orv::sim {
namespace {

bool ValidPage(int page) {
  return page >= 0 && page < kPageCount;
}

const TriggerPage& PageInfo(int page) {
  return kTriggerPages[static_cast<std::size_t>(page)];
}

}  // namespace

std::string LampName(int lamp) {
  return std::to_string(lamp + 1) + " " + kFaultLampCaptions[static_cast<std::size_t>(lamp)];
}

ControllerState::ControllerState() {
  for (const TriggerPage& page : kTriggerPages)
    pages_.emplace_back(page.size);
}

bool ControllerState::Fault(int lamp) const {
  return lamp >= 0 && lamp < kFaultLamps && faults_[static_cast<std::size_t>(lamp)];
}

bool ControllerState::SetFault(int lamp, bool on) {
  if (lamp < 0 || lamp >= kFaultLamps) return false;
  faults_[static_cast<std::size_t>(lamp)] = on;
  return true;
}

int ControllerState::FaultCount() const {
  int count = 0;
  for (const bool on : faults_)
    count += on ? 1 : 0;
  return count;
}

std::array<std::uint8_t, 2> ControllerState::FaultImage() const {
  std::array<std::uint8_t, 2> image{};
  for (int lamp = 0; lamp < kFaultLamps; ++lamp) {
    if (Fault(lamp)) image[static_cast<std::size_t>(lamp / 8)] |= std::uint8_t(1u << (lamp % 8));
  }
  return image;
}

std::uint16_t ControllerState::PanelStatusWord() const {
  std::uint16_t word = 0;
  for (int lamp = 0; lamp < kFaultLamps; ++lamp) {
    if (Fault(lamp)) word |= kPanelStatusBits[static_cast<std::size_t>(lamp)];
  }
  return word;
}

bool ControllerState::Trigger(int page, int n) const {
  return ValidPage(page) && pages_[static_cast<std::size_t>(page)].Get(n) != 0;
}

bool ControllerState::SetTrigger(int page, int n, bool on) {
  if (!ValidPage(page) || n < 1 || n > PageInfo(page).size) return false;
  pages_[static_cast<std::size_t>(page)].Set(n, on ? 1 : 0);
  return true;
}

Bytes ControllerState::PageImage(int page) const {
  if (!ValidPage(page)) return {};
  const TriggerPage& info = PageInfo(page);
  Bytes image(info.reply_bytes, 0);
  for (int n = 1; n <= info.size; ++n) {
    const int index = (n - 1) / info.reply_bits_per_byte;
    const int bit = (n - 1) % info.reply_bits_per_byte;
    if (Trigger(page, n)) image[static_cast<std::size_t>(index)] |= std::uint8_t(1u << bit);
  }
  return image;
}

std::uint16_t ControllerState::UnitGroup(int page, int unit) const {
  std::uint16_t group = 0;
  for (int k = 0; k < kUnitSize; ++k) {
    if (Trigger(page, unit * kUnitSize + k + 1)) group |= std::uint16_t(1u << k);
  }
  return group;
}

std::uint16_t ControllerState::UnitTriggerValue(int unit) const {
  return static_cast<std::uint16_t>(UnitGroup(0, unit) | (UnitGroup(1, unit) << kUnitSize));
}

std::uint16_t ControllerState::UnitBgmValue(int unit) const {
  return UnitGroup(kBgmPage, unit);
}

}  // namespace orv::sim
