#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "access/access_gate.h"
#include "access/pin_hash.h"
#include "access/refusal_summary.h"
#include "config/configuration.h"
#include "journal/journal.h"
#include "panel/received_display.h"
#include "platform/controls.h"
#include "platform/profile.h"
#include "platform/text_encoding.h"
#include "tests/form_fixture.h"

namespace orv {
namespace {

namespace fs = std::filesystem;
using test::FormTest;
using test::Hex;
using Frames = std::vector<Bytes>;

TEST_F(FormTest, OperatorClicksSendTheTriggerCommandValuesFromCodeAndADisabledBankDoNot) {
  MainForm& f = Load();
  ConnectAndClear();
  Ticks(1);  // the fault image's poll: the next slot is a page's
  port_.ClearWrites();
  // Page, scroll position, row, value clicked, its trigger number and the frame sent.
  const std::tuple<int, int, int, int, int, const char*> clicks[] = {
      {0, 0, 4, 1, 5, "02 02 13 05 01 DD 03"},
      {2, 108, 11, 1, 120, "02 02 12 78 01 49 03"},
      {1, 12, 0, 0, 13, "02 02 14 0D 00 8F 03"}};
  for (const auto& [page, scroll, row, value, trigger, frame] : clicks) {
    f.VirtualDevice_ComboBox.SetListIndex(page);
    f.Trigger_VScrollBar.SetValue(scroll);
    f.link().trigger_states().States(page).Set(trigger, 1 - value);  // the click is a change
    f.trigger_bank().RefreshTriggerBank();
    EXPECT_TRUE(port_.writes().empty()) << "a value set from code sends nothing";
    f.Trigger_CheckBox[row].SetValue(value);
    EXPECT_EQ(port_.writes(), Frames{Hex(frame)});
    EXPECT_EQ(f.link().trigger_states().States(page).Get(trigger), value);
    port_.ClearWrites();
  }
  // The next slot asks for the page shown last; the rotation's next turn is that page's too.
  Ticks(22);
  EXPECT_EQ(port_.writes(), (Frames{Hex("02 00 09 A9 03"), Hex("02 00 09 A9 03")}));
  port_.ClearWrites();
  f.trigger_bank().set_ui_enabled(false);  // clicks and scrolling are dropped
  f.Trigger_CheckBox[0].SetValue(1);
  f.Trigger_VScrollBar.SetValue(5);
  EXPECT_TRUE(port_.writes().empty());
  EXPECT_EQ(f.link().trigger_states().BusTriggerState.Get(13), 0);
  EXPECT_EQ(f.trigger_bank().scroll_offset(), 12);
  f.trigger_bank().set_page(kBgmPage);  // handled, though not in the list
  f.link().trigger_states().BgmState.Set(14, 1);
  f.trigger_bank().RefreshTriggerBank();
  EXPECT_EQ(f.TriggerLabel[0].caption(), "BGM 13");
  EXPECT_EQ(f.Trigger_CheckBox[1].value(), 1);
  f.Trigger_CheckBox[4].SetValue(1);
  ASSERT_EQ(port_.writes().size(), 1u);
  EXPECT_EQ(port_.writes()[0][2], 23);
}

// The last row at the last scroll position of each page: the page's names are shown from there
// and the key of its last trigger is written.
TEST_F(FormTest, RenameWritesTheKeyOfTheShownTrigger) {
  MainForm& f = Load();
  f.TriggerLabel[0].PerformDblClick();
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_FALSE(fs::exists(IniPath())) << "an untouched editor writes nothing";
  Rename(1, "");
  EXPECT_EQ(f.TriggerLabel[1].caption(), "");
  EXPECT_EQ(ReadProfileString("ETrgName", "ETRG 2", "?", 128, IniPath()), "");
  // Page, its last scroll position, the first row's name, the section and key of the last row.
  const std::tuple<int, int, const char*, const char*, const char*> cases[] = {
      {0, 48, "EMG Trigger 49", "ETrgName", "ETRG 60"},
      {1, 48, "BUS Trigger 49", "BTrgName", "BTRG 60"},
      {2, 108, "Soft Trigger 109", "VTrgName", "VTRG 120"}};
  for (const auto& [page, scroll, first, section, key] : cases) {
    f.focus.MoveFocus(&f.VirtualDevice_ComboBox);  // where a click on the list leaves it
    f.VirtualDevice_ComboBox.SetListIndex(page);
    f.Trigger_VScrollBar.SetValue(scroll + 1);  // held at the last position
    ASSERT_EQ(f.Trigger_VScrollBar.value(), scroll) << key;
    EXPECT_EQ(f.TriggerLabel[0].caption(), first);
    EXPECT_EQ(f.focus.focused(), &f.Trigger_PictureBox);
    f.TriggerLabel[11].PerformDblClick();
    EXPECT_TRUE(f.TriggerNameText[11].visible());
    EXPECT_EQ(f.focus.focused(), &f.TriggerNameText[11]);
    f.TriggerNameText[11].SetText(std::string("Last\r\n") + key);
    f.focus.MoveFocus(&f.Trigger_PictureBox);  // Validate commits, LostFocus only hides
    EXPECT_FALSE(f.TriggerNameText[11].visible());
    EXPECT_EQ(f.TriggerLabel[11].caption(), std::string("Last  ") + key);
    EXPECT_EQ(ReadProfileString(section, key, "?", 128, IniPath()), std::string("Last  ") + key);
  }
  fs::remove(IniPath());
  fs::create_directories(IniPath());  // unwritable: the name stays in memory and on screen
  Rename(0, "Stairs");
  EXPECT_EQ(f.TriggerLabel[0].caption(), "Stairs");
  EXPECT_EQ(f.config().SoftTriggerNames[108], "Stairs");
  f.VirtualDevice_ComboBox.SetListIndex(2);  // the same page again still starts over
  EXPECT_EQ(f.Trigger_VScrollBar.value(), 0);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "Soft Trigger 1");
}

// Whichever message came last decides all twelve system lamps, and no zone lamp. (Which bit
// lights which lamp is the link's test.)
TEST_F(FormTest, TheLastFaultImageOrPanelStatusDecidesEverySystemLampAndNoZoneLamp) {
  MainForm& f = Load();
  port_.Open();
  f.Shape1[13].SetFillStyle(Shape::kSolid);
  // Command, payload, lamps 0..11 after it.
  const std::tuple<std::uint8_t, const char*, const char*> cases[] = {
      {6, "FF 0F", "111111111111"},       {0xA0, "50 00 01", "000000010000"},
      {6, "01 00", "100000000000"},       {0xA0, "50 7F FF", "111111111111"},
      {0xA0, "50 80 00", "000000000000"}, {6, "00 08", "000000000001"}};
  for (const auto& [command, payload, lit] : cases) {
    port_.Deliver(EncodeFrame(command, Hex(payload)));
    Ticks(1);
    EXPECT_EQ(Lamps(), std::string(lit) + "010000000000") << payload;
  }
  Image("02 00");  // two in one tick: the last one
  Report("50 00 01");
  Ticks(1);
  EXPECT_EQ(Lamps().substr(0, 12), "000000010000");
}

TEST_F(FormTest, StatusRepliesFillTheirTablesOnlyTheShownPageIsRedrawnEvenUnderAnEditor) {
  MainForm& f = Load();
  ConnectAndClear();
  f.TriggerLabel[3].PerformDblClick();
  f.TriggerNameText[3].SetText("half typed");
  port_.Deliver(EncodeFrame(8, Hex("21 00 00 00 00 00 00 00 00 20")));  // six bits a byte
  port_.Deliver(EncodeFrame(7, Hex("00 01 00 00 00 00 00 00 00 00 00 00 00 00 80")));  // eight
  Ticks(1);
  for (int n = 1; n <= 120; ++n) {
    EXPECT_EQ(f.link().trigger_states().EmgTriggerState.Get(n), int{n == 1 || n == 6 || n == 60})
        << n;
    EXPECT_EQ(f.link().trigger_states().SoftTriggerState.Get(n), int{n == 9 || n == 120}) << n;
  }
  EXPECT_TRUE(f.TriggerNameText[3].visible());
  EXPECT_EQ(f.TriggerNameText[3].text(), "EMG Trigger 4") << "the redraw drops typed text";
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_FALSE(fs::exists(IniPath()));
  f.TriggerLabel[0].SetCaption("marker");  // a redraw would put the name back
  port_.Deliver(EncodeFrame(9, Hex("01 00 00 00 00 00 00 00 00 00")));
  port_.Deliver(EncodeFrame(10, Hex("02 00 00 00 00 00 00 00 00 00")));
  Ticks(1);
  EXPECT_EQ(f.link().trigger_states().BusTriggerState.Get(1), 1);
  EXPECT_EQ(f.link().trigger_states().BgmState.Get(2), 1);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "marker");
  f.VirtualDevice_ComboBox.SetListIndex(1);
  EXPECT_EQ(f.Trigger_CheckBox[0].value(), 1);
  EXPECT_EQ(f.TriggerLabel[0].caption(), "BUS Trigger 1");
  port_.Deliver(EncodeFrame(8, Hex("C0 00 00 00 00 00 00 00 00 00")));
  Ticks(1);
  for (int n = 1; n <= 60; ++n)
    EXPECT_EQ(f.link().trigger_states().EmgTriggerState.Get(n), 0) << n;
}

TEST(ReceivedDisplay, EachByteHasItsTextInEachFormat) {
  // Byte, mode (1 Char, 2 Hex, 3 Dec), its text; 0x80 is the euro sign.
  const std::tuple<std::uint8_t, std::uint8_t, const char*> cases[] = {
      {0x0A, 2, "0AH "}, {0xA0, 2, "A0H "}, {7, 3, "007 "},        {255, 3, "255 "},
      {0x2B, 1, "+"},    {0x02, 1, "\x02"}, {0xFF, 1, "\xC3\xBF"}, {0x80, 1, "\xE2\x82\xAC"},
      {0x81, 1, "."},    {0x8D, 1, "."},    {0x8F, 1, "."},        {0x90, 1, "."},
      {0x9D, 1, "."},    {0x41, 0, ""},     {0x41, 9, ""}};
  for (const auto& [byte, mode, text] : cases)
    EXPECT_EQ(FormatReceivedByte(byte, mode), text) << int{byte} << " " << int{mode};
}

// The box keeps its newest 65,536 characters as shown, however many bytes of UTF-8 each takes,
// in one chunk or in many, into an empty box or one that holds a little.
TEST(ReceivedDataDisplay, KeepsTheNewestCharactersWholeInEveryMode) {
  constexpr std::size_t kMax = ReceivedDataDisplay::kMaxTextLength;
  // Mode (1 Char, 2 Hex, 3 Dec), every received byte, bytes per chunk, the box's text before, and
  // the text of one byte.
  const std::tuple<std::uint8_t, std::uint8_t, std::size_t, const char*, std::string> cases[] = {
      {1, 0xFF, 100000, "xyz", "\u00FF"},   // two bytes a character, the chunk alone over the bound
      {1, 0x80, 1000, "\u20AC", "\u20AC"},  // three, in many
      {2, 0x2B, 777, "", "2BH "},           // four characters a byte, in many
  };
  for (const auto& [mode, byte, chunk, before, shown] : cases) {
    SCOPED_TRACE(testing::Message()
                 << "mode " << int{mode} << ", byte " << int{byte} << ", chunks of " << chunk);
    TextBox box("Receiver_Text");
    box.SetText(before);
    ReceivedDataDisplay display;
    display.set_display_mode(mode);
    for (std::size_t sent = 0; sent < 100000; sent += chunk)
      display.AppendReceivedBytes(box, Bytes(std::min(chunk, 100000 - sent), byte));
    const std::string& text = box.text();
    EXPECT_EQ(box.char_count(), kMax);
    EXPECT_EQ(Utf8Length(text), kMax);
    // The four characters of a Hex or Dec byte divide 65,536: whole byte texts at both ends.
    EXPECT_EQ(text.size(), kMax / Utf8Length(shown) * shown.size());
    EXPECT_EQ(text.substr(0, shown.size()), shown);
    EXPECT_EQ(text.substr(text.size() - shown.size()), shown);
    EXPECT_EQ(box.sel_start(), static_cast<int>(text.size())) << "the caret follows the newest";
  }
}

// The option buttons pick the format, and every chunk the port brings runs on in its own.
TEST_F(FormTest, ChunksRunOnInTheFormatTheOptionButtonsPick) {
  MainForm& f = Load();
  port_.Open();
  f.DisplayType_OptionButton[1].SetValue(true);
  port_.Deliver(Hex("02 01 06 00 2B 03"));
  f.DisplayType_OptionButton[2].SetValue(true);
  port_.Deliver(Hex("02 01"));
  f.DisplayType_OptionButton[0].SetValue(true);
  port_.Deliver(Hex("41 81"));
  EXPECT_EQ(f.Receiver_Text.text(), "02H 01H 06H 00H 2BH 03H 002 001 A.");
}

// The annunciator in the panel: which inputs sound, the ACK keys' silences, the journal's records
// and the lamp test on the 24 lamps. (Which report sounds which tone is the annunciator's test.)
TEST_F(FormTest, EachInputSoundsTheAckKeysSilenceItAndTheLampTestLightsAll24For5Seconds) {
  struct Step {
    const char* what;
    std::function<void()> act;
    Tone tone;
    const char* said;
  };
  const std::vector<Step> steps = {
      {"ALARM report", [this] { Report("15 00 00"); }, Tone::kAlarm, "sounds: ALARM report"},
      {"Mains lamp lit", [this] { Image("40 00"); }, Tone::kAlarm, "sounds: Fault lamp Mains lit"},
      {"EMG ACK", [this] { form().EMGAck_CB.PerformClick(); }, Tone::kFault,
       "silenced by ann from EMG ACK"},
      {"Fault ACK", [this] { form().FaultAck_CB.PerformClick(); }, Tone::kNone,
       "silenced by ann from Fault ACK"},
      {"port lost", [this] { port_.LoseDevice(); }, Tone::kFault, "sounds: Port lost"},
      {"Esc", [this] { form().annunciation().Silence(kSilenceFromEsc); }, Tone::kNone,
       "silenced by ann from Esc"},
      {"EventLog.txt cannot be written",
       [this] {
         fs::remove(LogPath());
         fs::create_directories(LogPath());  // a folder in its place
         Report("12 00 00");
       },
       Tone::kFault, "sounds: Recording failed"},
      {"Fault ACK", [this] { form().FaultAck_CB.PerformClick(); }, Tone::kNone,
       "silenced by ann from Fault ACK"},
      {"the controller falls silent", [this] { Ticks(60); }, Tone::kFault,
       "sounds: Controller does not answer"},
  };
  journal_options_.login = "ann";
  MainForm& f = Load();
  std::string said;  // the annunciator's records since the last step, without the prefix
  const Connection records = f.recorded().Connect([&said](const JournalEntry& entry) {
    if (entry.text.starts_with(kAnnunciationRecordPrefix))
      said += (said.empty() ? "" : "; ") + entry.text.substr(kAnnunciationRecordPrefix.size());
  });
  ConnectAndClear();
  for (const Step& step : steps) {
    said.clear();
    step.act();
    Ticks(1);
    EXPECT_EQ(f.annunciation().view().state.tone, step.tone) << step.what;
    EXPECT_EQ(said, step.said) << step.what;
  }
  // The lamp test lights all 24, then shows what came meanwhile.
  f.Shape1[13].SetFillStyle(Shape::kSolid);  // a zone lamp, as a controller might have left it
  ASSERT_EQ(Lamps(), "000000100000010000000000");  // Mains
  f.annunciation().Silence(kSilenceFromWindow);
  said.clear();
  f.annunciation().LampTest();
  EXPECT_EQ(Lamps(), std::string(24, '1'));
  Image("02 00");  // Network instead of Mains, during the test
  Ticks(49);
  EXPECT_EQ(Lamps(), std::string(24, '1'));
  Ticks(1);
  EXPECT_EQ(Lamps(), "010000000000010000000000");
  EXPECT_EQ(said, "lamp test; lamp test ended; sounds: Fault lamp Network lit");
}

// Each control of the window asks the gate for its own action. Which level each action needs is
// the gate's test; here each control is pressed at level 1 and, above that, by a level 3 operator.
struct Case {
  const char* name;
  int needed;
  std::function<void(MainForm&)> press;
};

std::vector<Case> Cases() {
  const auto key = [](PushButton MainForm::*button) {
    return [button](MainForm& f) { (f.*button).PerformClick(); };
  };
  return {
      {"EMG", 2, key(&MainForm::EMG_CB)},
      {"EMG Message", 2, key(&MainForm::EMGMessage_CB)},
      {"EMG ACK", 2, key(&MainForm::EMGAck_CB)},
      {"Fault ACK", 2, key(&MainForm::FaultAck_CB)},
      {"EMG Reset", 2, key(&MainForm::EMGReset_CB)},
      {"Fault Reset", 2, key(&MainForm::FaultReset_CB)},
      {"Impedance check", 2, key(&MainForm::IMPC_CB)},
      {"Trigger switching", 2, [](MainForm& f) { f.Trigger_CheckBox[4].SetValue(1); }},
      {"Supervision on/off", 2, [](MainForm& f) { f.SupervisionCheck.SetValue(1); }},
      {"Supervision time", 2, [](MainForm& f) { f.Timer_CB.SetText("70"); }},
      {"Connection/Disconnection", 3, key(&MainForm::ConnectCB)},
      {"Port and baud rate", 3, [](MainForm& f) { f.ComPort_CB.SetListIndex(2); }},
      {"Port and baud rate", 3, [](MainForm& f) { f.BaudRate_CB.SetListIndex(0); }},
      {"Trigger renaming", 3, [](MainForm& f) { f.TriggerLabel[2].PerformDblClick(); }},
      {"Without Display", 3, [](MainForm& f) { f.NoDisplayCheck.SetValue(1); }},
      // Level 1: asked of the gate by the Qt window's buttons, as here.
      {"Silence", 1,
       [](MainForm& f) {
         f.annunciation().OnReport(Annunciator::kAlarmReport);  // something to silence
         f.annunciation().Tick(false, false);
         f.Guarded(Action::kSilence,
                   [&f](const Actor& by) { f.annunciation().Silence(kSilenceFromWindow, by); });
       }},
      {"Lamp test", 1,
       [](MainForm& f) {
         f.Guarded(Action::kLampTest, [&f](const Actor& by) { f.annunciation().LampTest(by); });
       }},
  };
}

class PanelAccessTest : public FormTest {
 protected:
  static UsersFile Staff() {
    static const std::string hash = *HashPin("5678");
    return UsersFile{AccessMode::kOn, {{"carol", AccessLevel::kLevel3, hash, false}}};
  }

  // A fresh window on a connected line, carol logged in at level 3 (else nobody: level 1).
  MainForm& Connected(AccessGate* gate, int level) {
    port_.Close();
    gate_ = gate;
    MainForm& f = Load();
    f.ConnectCB_Click();
    EXPECT_TRUE(f.link().port_connected());
    if (level == 3) {
      EXPECT_EQ(gate->LogIn(MainForm::kWindowOrigin, "carol", "5678", access_now_).outcome,
                LogInOutcome::kOk);
    }
    port_.ClearWrites();
    notices_.clear();
    return f;
  }

  // Presses c (or nothing) at level and tells what the line and the window show afterwards, and
  // the journal's operator records with who did it.
  std::string Pressed(const Case* c, AccessGate* gate, int level) {
    MainForm& f = Connected(gate, level);
    std::string records;
    const Connection recording = f.recorded().Connect([&records](const JournalEntry& e) {
      if (e.kind == JournalKind::kOperator) records += e.text + " / " + e.detail + "\n";
    });
    if (c != nullptr) c->press(f);
    std::string shown = records + "wire";
    for (const Bytes& write : port_.writes())
      shown += " " + std::string(write.begin(), write.end());
    return shown + "|" + std::to_string(f.Trigger_CheckBox[4].value()) +
           std::to_string(f.link().trigger_states().States(0).Get(5)) +
           std::to_string(f.SupervisionCheck.value()) + f.Timer_CB.text() +
           std::to_string(f.link().port_connected()) + std::to_string(f.config().SerialComPort) +
           f.BaudRate_CB.text() + std::to_string(f.TriggerNameText[2].visible()) +
           std::to_string(f.NoDisplayCheck.value()) + Lamps();
  }
};

TEST_F(PanelAccessTest, EachControlIsRefusedBelowItsLevelAndActsAsWithoutAGateAtIt) {
  const char* const actors[] = {"", "level 1", "", "operator carol, level 3"};
  AccessGate off{UsersFile{}};
  const std::string untouched = Pressed(nullptr, nullptr, 1);
  for (const Case& c : Cases()) {
    SCOPED_TRACE(c.name);
    access_now_ += std::chrono::seconds(1);  // one control a second, at a hand's pace
    const std::string without_gate = Pressed(&c, nullptr, 1);
    EXPECT_NE(without_gate, untouched);
    EXPECT_EQ(Pressed(&c, &off, 1), without_gate) << "levels off";
    AccessGate at(Staff());
    const int level = c.needed == 1 ? 1 : 3;
    const std::string allowed = Pressed(&c, &at, level);
    EXPECT_TRUE(notices_.empty());
    std::string expected = without_gate;
    for (std::size_t at_line = 0; (at_line = expected.find(" / \n", at_line)) != std::string::npos;)
      expected.insert(at_line += 3, actors[level]);
    EXPECT_EQ(allowed, expected);
    if (c.needed == 1) continue;
    AccessGate below(Staff());
    const std::string refusal =
        c.name + std::string(" refused: level ") + std::to_string(c.needed) + " needed";
    EXPECT_EQ(Pressed(&c, &below, 1), refusal + ": no operator, level 1, window / \n" + untouched);
    ASSERT_EQ(notices_.size(), 1u);
    EXPECT_EQ(notices_[0].text, refusal);
  }
}

// (That a refusal asks for a log-in is the Qt window's access test; that the tick ends an idle
// one, the attached service's.)
TEST_F(PanelAccessTest, InputKeepsTheLogInAliveAndANameTypedAfterItEndedIsNotTaken) {
  AccessGate gate(Staff(), std::chrono::minutes(10));
  MainForm& f = Connected(&gate, 3);
  access_now_ += std::chrono::minutes(9);
  f.Touch();
  access_now_ += std::chrono::minutes(9);
  f.TRTimer_Timer();
  EXPECT_EQ(gate.Level(MainForm::kWindowOrigin), AccessLevel::kLevel3);
  const std::string before = f.TriggerLabel[2].caption();
  f.TriggerLabel[2].PerformDblClick();
  ASSERT_TRUE(f.TriggerNameText[2].visible());
  gate.LogOut(MainForm::kWindowOrigin, access_now_);
  f.TriggerNameText[2].SetText("Lobby");
  f.focus.MoveFocus(&f.Trigger_PictureBox);
  EXPECT_EQ(f.TriggerLabel[2].caption(), before);
  EXPECT_FALSE(f.TriggerNameText[2].visible());
  ASSERT_EQ(notices_.size(), 1u);
  EXPECT_EQ(notices_[0].text, "Trigger renaming refused: level 3 needed");
}

// A key pressed over and over below its level is recorded once, then counted: one record says how
// many more when the window closes, or before the next other event of the origin.
TEST_F(PanelAccessTest, RepeatedRefusalsAreRecordedOnceThenCounted) {
  AccessGate gate(Staff());
  MainForm& f = Connected(&gate, 1);
  std::vector<std::string> records;
  const Connection recording = f.recorded().Connect([&records](const JournalEntry& e) {
    if (e.kind == JournalKind::kOperator) records.push_back(e.text);
  });
  for (int i = 0; i < 5; ++i)
    f.EMGReset_CB.PerformClick();
  f.TRTimer_Timer();
  access_now_ += RefusalSummary::kWindow;
  f.TRTimer_Timer();
  const std::string full = "EMG Reset refused: level 2 needed: no operator, level 1, window";
  EXPECT_EQ(records,
            (std::vector<std::string>{full, "4 more refused EMG Reset from window in 10 s"}));
  records.clear();
  f.EMGReset_CB.PerformClick();
  f.EMGReset_CB.PerformClick();
  access_now_ += std::chrono::seconds(2);
  gate.LogIn(MainForm::kWindowOrigin, "carol", "5678", access_now_);
  EXPECT_EQ(records, (std::vector<std::string>{full, "1 more refused EMG Reset from window in 2 s",
                                               "Log in: carol, level 3, window"}));
  // A stop says what is still counted.
  gate.LogOut(MainForm::kWindowOrigin, access_now_);
  records.clear();
  f.EMGReset_CB.PerformClick();
  f.EMGReset_CB.PerformClick();
  access_now_ += std::chrono::seconds(1);
  f.Form_Unload();
  EXPECT_EQ(records,
            (std::vector<std::string>{full, "1 more refused EMG Reset from window in 1 s"}));
}
}  // namespace
}  // namespace orv
