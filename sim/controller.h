#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "sim/controller_state.h"
#include "sim/frame_shaper.h"
#include "sim/random.h"
#include "sim/report_generator.h"
#include "sim/transmission.h"

namespace orv::sim {

struct ControllerOptions {
  std::uint32_t seed = 1;
  // Mean time between spontaneous reports; 0 switches them off.
  double report_interval_s = 2.0;
  // Quiet line time before each answer.
  int reply_delay_ms = 0;
  // Answer each set, key, supervision and impedance command with an empty frame of its code.
  bool ack_commands = false;
  LineFaultOptions line_faults;
  // "every" counts over the status requests received; 0 means never.
  int no_answer_every = 0;
  int unknown_every = 0;
  int long_len_every = 0;
};

// The simulated controller without any I/O: frames from the panel and the passing of time go in,
// transmissions for the line come out of TakeOutput(). Time is whatever clock the caller keeps.
class Controller {
 public:
  static constexpr std::uint8_t kEmgMessageReport = 0x16;  // what key 6 "EMG Message" reports
  static constexpr Millis kImpedanceCheckTime{2000};
  static constexpr int kDefaultLongLength = 120;

  Controller(const ControllerOptions& options, Random random);
  Controller(const Controller&) = delete;
  Controller& operator=(const Controller&) = delete;

  // A good frame from the panel.
  void HandleFrame(std::uint8_t command, std::span<const std::uint8_t> data, Millis now);
  // The passing of time: spontaneous reports, the impedance result, supervision.
  void Tick(Millis now);
  // Everything produced since the last call, in line order.
  std::vector<Transmission> TakeOutput();

  // Operator actions from the console. Each returns false when its arguments are out of range.
  bool SetFault(int lamp, bool on, Millis now);
  bool SetTrigger(int page, int n, bool on, Millis now);
  void SendReport(std::uint8_t kind, std::uint16_t value, Millis now);
  void Burst(int count, Millis now);
  void Silence(Millis duration, Millis now);
  void SendNoise(int count, Millis now);
  void SendUnknownCommand(Millis now);
  void SendLongFrame(int length, Millis now);
  void SetReportInterval(double seconds, Millis now);
  FrameShaper& shaper() { return shaper_; }

  const ControllerState& state() const { return state_; }
  bool silent(Millis now) const { return now < silent_until_; }

 private:
  void AnswerRequest(std::uint8_t command);
  void ObeyCommand(std::uint8_t command, std::span<const std::uint8_t> data);
  void ObeySetCommand(int page, std::span<const std::uint8_t> data);
  void PressKey(std::uint8_t key);
  void ReportTriggerChange(int page, int n);
  void SendReports(const std::vector<Report>& reports);
  void Emit(std::uint8_t command, std::span<const std::uint8_t> data);
  void EmitRaw(const Bytes& frame, const std::string& meaning);
  void CheckSupervision();
  void ClearSupervisionFault();
  void RunSpontaneousReports();
  void ScheduleNextReport();

  ControllerOptions options_;
  Random random_;
  ControllerState state_;
  FrameShaper shaper_;
  ReportGenerator generator_;
  std::vector<Transmission> outbox_;
  Millis now_{0};
  Millis silent_until_{0};
  Millis last_rx_{0};
  std::optional<Millis> next_report_at_;
  std::optional<Millis> impedance_result_at_;
  bool supervision_fault_ = false;
  int requests_ = 0;
};

}  // namespace orv::sim
