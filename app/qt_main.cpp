// The program: the window model over a serial port, shown in a Qt window and driven by its
// events and its 100 ms timer until the window is closed.
#include <QApplication>
#include <filesystem>
#ifdef _WIN32
#include <QFileInfo>
#endif

#include "app/main_form.h"
#include "platform/notice_log.h"
#include "platform/process.h"
#include "platform/program_folder.h"
#include "platform/qt/qt_form_view.h"
#include "platform/qt/qt_message_box.h"
#include "platform/qt/qt_notice.h"
#include "platform/qt/qt_serial_port.h"
#include "platform/qt/qt_tick_timer.h"

namespace {

// SYSINI and DATA live beside the real executable, wherever it was started from or linked to.
orv::ProgramFolderLookup ProgramFolder() {
#ifdef _WIN32
  // Windows names are UTF-16 throughout; Qt's own answer loses nothing there.
  const QString folder = QFileInfo(QCoreApplication::applicationDirPath()).canonicalFilePath();
  if (folder.isEmpty()) return {{}, "the program's folder cannot be found"};
  return {std::filesystem::path(folder.toStdWString()), {}};
#else
  return orv::FindProgramFolder();
#endif
}

}  // namespace

int main(int argc, char* argv[]) {
  orv::ShareNewFilesWithGroup();
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("Orvandel"));

  const orv::ProgramFolderLookup found = ProgramFolder();
  const std::filesystem::path& folder = found.folder;
  // COM1..COM10 stand for the devices named in MainForm.INI, looked up at every connect.
  orv::QtSerialPort port(
      [folder](int port_number) { return orv::Configuration(folder).SerialDevice(port_number); });
  // Every notice goes to the window's status bar and to the Qt log (standard error); those of
  // start-up wait in the notice log until the window shows them.
  orv::NoticeLog notices(orv::SystemLocalTime);
  if (folder.empty()) {
    // Every file operation refuses a name without a folder: nothing lands in the current one.
    const std::string text = "The program folder cannot be found: " + found.problem +
                             ". Settings and the event log are neither read nor written.";
    // Kept for the window's status bar, and in the Qt log (standard error) at once.
    notices.Sink(orv::QtLogNotices())(orv::Notice{orv::NoticeLevel::kError, text});
  }
  // Start-up may show a message box before the window exists.
  orv::MainForm form(orv::MainFormEnvironment{port, folder, orv::QtMessageBox(nullptr),
                                              orv::SystemLocalTime,
                                              notices.Sink(orv::QtLogNotices())});
  form.Form_Load();

  orv::QtFormView view(form.MainFormWindow, form.controls(), form.focus,
                       [&form] { form.Form_Unload(); });
  view.ShowNotices(notices);
  // The tick is the program's: it runs from here to the end, whatever the window does.
  const orv::QtTickTimer ticker([&] { view.CallModel([&form] { form.TRTimer_Timer(); }); });
  view.show();
  return QApplication::exec();
}
