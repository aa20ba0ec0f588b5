#include "sim/controller.h"

#include <algorithm>
#include <array>

#include "link/frame.h"
#include "link/trigger_states.h"
#include "sim/describe.h"
#include "sim/numbers.h"

namespace orv::sim {
namespace {

bool IsStatusRequest(std::uint8_t command) {
  return command == cmd::kFaultImage || PageOfStatusReply(command) >= 0;
}

bool IsKnownCommand(std::uint8_t command) {
  switch (command) {
    case cmd::kSupervisionTime:
    case cmd::kSupervisionOnOff:
    case cmd::kPanelKey:
    case cmd::kImpedanceCheck:
      return true;
    default:
      return PageOfSetCommand(command) >= 0;
  }
}

// Codes the panel does not expect from the controller.
constexpr std::array<std::uint8_t, 6> kUnknownCodes{0x01, 0x0B, 0x2A, 0x5A, 0xB0, 0xFE};

}  // namespace

Controller::Controller(const ControllerOptions& options, Random random)
    : options_(options),
      random_(std::move(random)),
      shaper_(options.line_faults, random_),
      generator_(random_) {
  ScheduleNextReport();
}

void Controller::HandleFrame(std::uint8_t command, std::span<const std::uint8_t> data, Millis now) {
  now_ = now;
  last_rx_ = now;
  const std::size_t first = outbox_.size();
  ClearSupervisionFault();
  if (IsStatusRequest(command)) {
    AnswerRequest(command);
  } else {
    ObeyCommand(command, data);
  }
  if (outbox_.size() > first) outbox_[first].pause_before += Millis{options_.reply_delay_ms};
}

void Controller::Tick(Millis now) {
  now_ = now;
  if (silent(now)) return;
  if (impedance_result_at_ && now >= *impedance_result_at_) {
    impedance_result_at_.reset();
    SendReports(FaultReports(state_));
  }
  CheckSupervision();
  RunSpontaneousReports();
}

std::vector<Transmission> Controller::TakeOutput() {
  std::vector<Transmission> out;
  out.swap(outbox_);
  return out;
}

void Controller::AnswerRequest(std::uint8_t command) {
  ++requests_;
  if (Every(options_.no_answer_every, requests_)) return;
  if (command == cmd::kFaultImage) {
    Emit(command, state_.FaultImage());
  } else {
    Emit(command, state_.PageImage(PageOfStatusReply(command)));
  }
  if (Every(options_.unknown_every, requests_)) SendUnknownCommand(now_);
  if (Every(options_.long_len_every, requests_)) SendLongFrame(kDefaultLongLength, now_);
}

void Controller::ObeyCommand(std::uint8_t command, std::span<const std::uint8_t> data) {
  if (!IsKnownCommand(command)) return;
  if (options_.ack_commands)
    EmitRaw(EncodeFrame(command, {}), "acknowledge " + DescribeRequest(command, data));
  const std::uint8_t first = data.empty() ? 0 : data[0];
  switch (command) {
    case cmd::kSupervisionTime:
      if (!data.empty()) state_.set_supervision_time(first);
      return;
    case cmd::kSupervisionOnOff:
      if (!data.empty()) state_.set_supervision_on(first != 0);
      return;
    case cmd::kPanelKey:
      if (!data.empty()) PressKey(first);
      return;
    case cmd::kImpedanceCheck:
      impedance_result_at_ = now_ + kImpedanceCheckTime;
      return;
    default:
      ObeySetCommand(PageOfSetCommand(command), data);
      return;
  }
}

void Controller::ObeySetCommand(int page, std::span<const std::uint8_t> data) {
  if (data.size() < 2) return;
  if (state_.SetTrigger(page, data[0], data[1] != 0)) ReportTriggerChange(page, data[0]);
}

void Controller::PressKey(std::uint8_t key) {
  switch (key) {
    case 1:
      state_.set_emergency(true);
      state_.set_emergency_acknowledged(false);
      return SendReport(0x11, 0, now_);
    case 2:
      state_.set_emergency_acknowledged(state_.emergency());
      return SendReport(0x12, 0, now_);
    case 3:
      state_.set_emergency(false);
      state_.set_emergency_acknowledged(false);
      return SendReport(0x13, 0, now_);
    case 4:
      return SendReport(0x22, 0, now_);
    case 5:
      state_.ClearFaults();
      supervision_fault_ = false;
      SendReport(0x23, 0, now_);
      return SendReports(FaultReports(state_));
    case 6:
      return SendReport(kEmgMessageReport, 0, now_);
    default:
      return;
  }
}

void Controller::ReportTriggerChange(int page, int n) {
  // Soft triggers have no unit report; the panel learns of them from the status reply alone.
  const int unit = (n - 1) / kUnitSize;
  if (page == kBgmPage) {
    SendReport(static_cast<std::uint8_t>(kBgmUnitBase + unit), state_.UnitBgmValue(unit), now_);
  } else if (page == 0 || page == 1) {
    SendReport(static_cast<std::uint8_t>(kTriggerUnitBase + unit), state_.UnitTriggerValue(unit),
               now_);
  }
}

bool Controller::SetFault(int lamp, bool on, Millis now) {
  now_ = now;
  if (!state_.SetFault(lamp, on)) return false;
  SendReports(FaultReports(state_));
  return true;
}

bool Controller::SetTrigger(int page, int n, bool on, Millis now) {
  now_ = now;
  if (!state_.SetTrigger(page, n, on)) return false;
  ReportTriggerChange(page, n);
  return true;
}

void Controller::SendReport(std::uint8_t kind, std::uint16_t value, Millis now) {
  now_ = now;
  const std::array<std::uint8_t, 3> data{kind, static_cast<std::uint8_t>(value >> 8),
                                         static_cast<std::uint8_t>(value & 0xFF)};
  Emit(cmd::kReport, data);
}

void Controller::SendReports(const std::vector<Report>& reports) {
  for (const Report& report : reports)
    SendReport(report.kind, report.value, now_);
}

void Controller::Burst(int count, Millis now) {
  now_ = now;
  for (int i = 0; i < count; ++i)
    SendReports(generator_.Next(state_));
}

void Controller::Silence(Millis duration, Millis now) {
  now_ = now;
  silent_until_ = now + duration;
}

void Controller::SendNoise(int count, Millis now) {
  now_ = now;
  if (silent(now_)) return;
  outbox_.push_back(shaper_.Noise(count));
}

void Controller::SendUnknownCommand(Millis now) {
  now_ = now;
  const std::uint8_t code = kUnknownCodes[static_cast<std::size_t>(
      random_.Below(static_cast<int>(kUnknownCodes.size())))];
  const std::array<std::uint8_t, 2> data{static_cast<std::uint8_t>(random_.Below(256)),
                                         static_cast<std::uint8_t>(random_.Below(256))};
  EmitRaw(EncodeFrame(code, data), "unknown command 0x" + HexBytes(std::span(&code, 1)));
}

// An EMG report padded past the 101 bytes a receiver can hold: a receiver that took it would log
// an emergency. The padding is chosen so that neither it nor the CRC is an STX, so a receiver that
// drops the frame at its LEN byte finds the next frame intact.
void Controller::SendLongFrame(int length, Millis now) {
  now_ = now;
  length = std::clamp(length, 102, 255);
  Bytes data(static_cast<std::size_t>(length), 0x55);
  data[0] = 0x11;
  data[1] = 0;
  data[2] = 0;
  Bytes frame = EncodeFrame(cmd::kReport, data);
  while (frame[frame.size() - 2] == kStx) {
    ++data.back();
    frame = EncodeFrame(cmd::kReport, data);
  }
  EmitRaw(frame, "over-long frame, LEN " + std::to_string(length));
}

void Controller::SetReportInterval(double seconds, Millis now) {
  now_ = now;
  options_.report_interval_s = std::max(0.0, seconds);
  ScheduleNextReport();
}

void Controller::Emit(std::uint8_t command, std::span<const std::uint8_t> data) {
  EmitRaw(EncodeFrame(command, data), DescribeSent(command, data));
}

void Controller::EmitRaw(const Bytes& frame, const std::string& meaning) {
  if (silent(now_)) return;
  shaper_.Shape(frame, meaning, outbox_);
}

void Controller::CheckSupervision() {
  if (!state_.supervision_on() || state_.supervision_time() == 0 || supervision_fault_) return;
  if (now_ - last_rx_ < Millis{1000 * state_.supervision_time()}) return;
  supervision_fault_ = true;
  state_.SetFault(kRcpLamp, true);
  SendReports(FaultReports(state_));
}

void Controller::ClearSupervisionFault() {
  if (!supervision_fault_) return;
  supervision_fault_ = false;
  state_.SetFault(kRcpLamp, false);
  SendReports(FaultReports(state_));
}

void Controller::RunSpontaneousReports() {
  if (!next_report_at_ || now_ < *next_report_at_) return;
  SendReports(generator_.Next(state_));
  ScheduleNextReport();
}

// Reports come at random intervals between half and one and a half times the mean.
void Controller::ScheduleNextReport() {
  const int mean_ms = static_cast<int>(options_.report_interval_s * 1000.0);
  if (mean_ms <= 0) {
    next_report_at_.reset();
    return;
  }
  next_report_at_ = now_ + Millis{mean_ms / 2 + random_.Below(mean_ms + 1)};
}

}  // namespace orv::sim
