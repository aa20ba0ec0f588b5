// The window's heavy moments, headless: the worst event-storm tick, a trigger bank redraw, and
// start-up. The goal for the storm tick is under 20 ms, a fifth of the tick's 100 ms; start-up
// with a 1 MiB MainForm.INI should take under 50 ms more than with a small one.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <memory>

#include "link/frame.h"
#include "panel/main_form.h"
#include "tests/support/fake_serial_port.h"
#include "tests/temp_folder.h"

namespace {

// The journal is off unless asked for: the redraw and the start-up are measured without it.
std::unique_ptr<orv::MainForm> LoadedForm(orv::FakeSerialPort& port,
                                          const orv::test::TempFolder& folder,
                                          bool keep_journal = false) {
  auto form = std::make_unique<orv::MainForm>(
      orv::MainFormEnvironment{port, folder.path(), nullptr,
                               [] {
                                 return orv::LocalDateTime{12, 4, 5, 21};
                               },
                               nullptr, keep_journal});
  form->Form_Load();
  return form;
}

// Argument 1: with the journal, whose commit (149 rows, synchronous) is part of the tick.
void BM_EventStormTick(benchmark::State& state) {
  orv::test::TempFolder folder;
  orv::FakeSerialPort port;
  auto form = LoadedForm(port, folder, state.range(0) != 0);
  form->ConnectCB.PerformClick();
  orv::Bytes storm;  // 149 reports, 1192 bytes: all the ring holds between two ticks
  for (int i = 0; i < 149; ++i) {
    const orv::Bytes r =
        orv::EncodeFrame(0xA0, orv::Bytes{0x32, 0x00, static_cast<std::uint8_t>(i)});
    storm.insert(storm.end(), r.begin(), r.end());
  }
  for (auto _ : state) {
    port.Deliver(storm);
    form->TRTimer_Timer();  // shows and appends all 149 lines
    state.PauseTiming();
    std::filesystem::remove(form->event_log().LogFile());
    port.ClearWrites();
    state.ResumeTiming();
  }
  state.counters["reports_per_tick"] = 149;
  if (orv::Journal* journal = form->journal()) {
    if (journal->waiting() != 0) state.SkipWithError("the journal did not keep up");
  }
}
BENCHMARK(BM_EventStormTick)->ArgName("journal")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_TriggerBankRedraw(benchmark::State& state) {
  orv::test::TempFolder folder;
  orv::FakeSerialPort port;
  auto form = LoadedForm(port, folder);
  form->VirtualDevice_ComboBox.SetListIndex(2);
  int row = 0;
  for (auto _ : state) {
    // A changed state each time, so the redraw has a box to set.
    form->link().trigger_states().SoftTriggerState.Set(1 + row, static_cast<std::int16_t>(row & 1));
    row = (row + 1) % 12;
    form->trigger_bank().RefreshTriggerBank();
  }
}
BENCHMARK(BM_TriggerBankRedraw)->Unit(benchmark::kMicrosecond);

// Start-up with a MainForm.INI of state.range(0) bytes: serial settings and every name set, and
// a long section the program does not read (a site's notes, say) filling the file to that size.
void BM_FormLoad(benchmark::State& state) {
  orv::test::TempFolder folder;
  const auto file_size = static_cast<std::size_t>(state.range(0));
  std::filesystem::create_directories(folder.path() / "SYSINI");
  {
    std::string ini = "[RS232Configure]\r\nComPort=1\r\nBaudRate=9600\r\n";
    std::string names;
    for (const auto& page : orv::kTriggerPages) {
      names += std::string("[") + page.ini_section + "]\r\n";
      for (int n = 1; n <= page.size; ++n) {
        names += page.ini_key_prefix + std::to_string(n) + "=Zone " + std::to_string(n) + "\r\n";
      }
    }
    ini += "[Notes]\r\n";
    const std::string tail = "; end\r\n";
    for (int n = 1; ini.size() + names.size() + tail.size() + 80 < file_size; ++n) {
      ini += "Note " + std::to_string(n) + "=Amplifier rack checked, all lines quiet\r\n";
    }
    // One comment line makes the size exact.
    const std::size_t room = file_size - ini.size() - names.size() - tail.size();
    if (room >= 3) ini.append(";").append(room - 3, '-').append("\r\n");
    ini += names + tail;
    std::FILE* file = std::fopen((folder.path() / "SYSINI" / "MainForm.INI").c_str(), "wb");
    std::fwrite(ini.data(), 1, ini.size(), file);
    std::fclose(file);
    state.counters["ini_bytes"] = static_cast<double>(ini.size());
  }
  orv::FakeSerialPort port;
  for (auto _ : state) {
    auto form = LoadedForm(port, folder);
    benchmark::DoNotOptimize(form.get());
    // A start-up that did not read the file would be fast for the wrong reason.
    if (form->config().BgmNames[59] != "Zone 60") state.SkipWithError("names were not read");
  }
}
BENCHMARK(BM_FormLoad)->Arg(8 << 10)->Arg(1 << 20)->Arg(4 << 20)->Unit(benchmark::kMillisecond);

}  // namespace
