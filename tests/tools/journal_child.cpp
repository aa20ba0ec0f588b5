// The program's logic without a window, for the crash test: it connects COM1 of the program
// folder given on its command line at once, ticks every 100 ms, and prints the last sequence
// number of every journal commit ("committed N") after the commit has returned.
#include <QCoreApplication>
#include <cstdio>
#include <filesystem>

#include "panel/main_form.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_tick_timer.h"

int main(int argc, char* argv[]) {
  QCoreApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: orv_journal_child PROGRAM_FOLDER\n");
    return 2;
  }
  const std::filesystem::path folder = argv[1];
  orv::QtSerialPort port([folder](int n) { return orv::Configuration(folder).SerialDevice(n); });
  orv::MainForm form(
      orv::MainFormEnvironment{port, folder, nullptr, orv::SystemLocalTime, nullptr});
  form.Form_Load();
  if (form.journal() == nullptr) return 1;
  const orv::Connection said = form.journal()->committed().Connect([](std::int64_t last) {
    std::printf("committed %lld\n", static_cast<long long>(last));
    std::fflush(stdout);
  });
  form.ConnectCB.PerformClick();
  std::printf(form.link().port_connected() ? "connected\n" : "not connected\n");
  std::fflush(stdout);
  const orv::QtTickTimer ticker([&form] { form.TRTimer_Timer(); });
  return QCoreApplication::exec();
}
