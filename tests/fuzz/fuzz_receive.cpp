// Arbitrary bytes on the serial line, in arbitrary chunks, with ticks and operator actions in
// between, through the whole receive path of a headless window.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>

#include "panel/main_form.h"
#include "platform/text_encoding.h"
#include "tests/support/fake_serial_port.h"
#include "tests/temp_folder.h"

namespace {

struct Harness {
  Harness() {
    const auto clock = [] { return orv::LocalDateTime{12, 4, 5, 21}; };
    form = std::make_unique<orv::MainForm>(
        orv::MainFormEnvironment{port, folder.path(), nullptr, clock, nullptr});
    form->Form_Load();
    form->ConnectCB.PerformClick();
  }
  orv::FakeSerialPort port;
  orv::test::TempFolder folder;
  std::unique_ptr<orv::MainForm> form;  // gone before its folder
};

// Names the broken invariant before stopping, so a crash report says what went wrong.
void CheckAt(bool condition, const char* what, int line) {
  if (condition) return;
  std::fprintf(stderr, "invariant broken at line %d: %s\n", line, what);
  std::abort();
}
#define Check(condition) CheckAt((condition), #condition, __LINE__)

void CheckInvariants(orv::MainForm& f) {
  Check(f.EventsLogTextBox.text().size() <= 1000);
  // Bound by characters; the kept count is the text's.
  Check(f.Receiver_Text.char_count() <= 65536);
  Check(orv::Utf8Length(f.Receiver_Text.text()) == f.Receiver_Text.char_count());
  const auto& bank = f.trigger_bank();
  for (int page = 0; page < orv::kPageCount; ++page) {
    const auto& table = f.link().trigger_states().States(page);
    for (int n = 0; n <= table.size() + 1; ++n) {
      const int v = table.Get(n);
      Check(v == 0 || v == 1);
      if (n == 0 || n > table.size()) Check(v == 0);
    }
  }
  Check(bank.page() >= 0 && bank.page() < orv::kPageCount);
  Check(bank.scroll_offset() >= 0 &&
        bank.scroll_offset() + 12 <=
            orv::kTriggerPages[static_cast<std::size_t>(bank.page())].size);
  for (int i = 0; i < 24; ++i) {
    const int style = f.Shape1[i].fill_style();
    Check(style == orv::Shape::kSolid || style == orv::Shape::kTransparent);
  }
  for (int r = 0; r < 12; ++r) {
    const int v = f.Trigger_CheckBox[r].value();
    Check(v == 0 || v == 1);
  }
  Check(f.link().receiver().rx_state() <= orv::Receiver::kExpectEtx);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Harness h;
  orv::MainForm& f = *h.form;
  // The log only grows; start every input with an empty one so disk use stays bounded.
  std::error_code ec;
  std::filesystem::remove(f.event_log().LogFile(), ec);
  h.port.ClearWrites();

  std::size_t at = 0;
  while (at < size) {
    const std::uint8_t op = data[at++];
    switch (op % 8) {
      case 0:
      case 1:
      case 2: {  // a chunk of up to 63 bytes from the input
        const std::size_t n = std::min<std::size_t>(op >> 2, size - at);
        h.port.Deliver(orv::Bytes(data + at, data + at + n));
        at += n;
        break;
      }
      case 3:
      case 4:
        for (int i = 0; i <= (op >> 3); ++i)
          f.TRTimer_Timer();
        CheckInvariants(f);  // after the ticks: everything received so far has been handled
        break;
      case 5:
        f.VirtualDevice_ComboBox.SetListIndex((op >> 3) % 3);
        break;
      case 6:
        f.Trigger_VScrollBar.SetValue(op >> 3);
        f.Trigger_CheckBox[(op >> 3) % 12].SetValue((op >> 4) & 1);
        break;
      default:
        f.NoDisplayCheck.SetValue((op >> 3) % 3);
        f.DisplayType_OptionButton[(op >> 5) % 3].SetValue(true);
        break;
    }
  }
  f.TRTimer_Timer();
  CheckInvariants(f);
  return 0;
}
