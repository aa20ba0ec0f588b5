#pragma once

// The real service (the program, headless, at a socket of the test's own) with the simulator on
// its line, and windows of this process attached to it.
#include <string>

#include "attach/qt/qt_attached_window.h"
#include "tests/program_folder_fixture.h"

namespace orv::test {

class AttachedWindowTest : public ProgramFolderTest {
 protected:
  static bool Attached(QtAttachedWindow& window) {
    return window.client().status() == QtAttachClient::Status::kAttached;
  }

  std::string socket_ = (folder_.path() / "panel.sock").string();
};

}  // namespace orv::test
