#pragma once

#include <memory>
#include <optional>
#include <string>

#include "access/qt/qt_access_bar.h"
#include "annunciator/qt/qt_annunciator_bar.h"
#include "annunciator/qt/qt_sound_output.h"

#include "attach/attached_panel.h"
#include "attach/qt/qt_attach_client.h"
#include "conditions/qt/qt_conditions_bar.h"
#include "journal/qt/qt_history_source.h"
#include "linkwatch/qt/qt_line_status.h"
#include "platform/notice_log.h"
#include "platform/qt/qt_form_view.h"

class QLabel;

namespace orv {

// The service's journal, a page at a time over the window's socket: the operators may not read
// its file.
class ServiceHistorySource final : public HistorySource {
 public:
  explicit ServiceHistorySource(QtAttachClient& client);
  void Read(const JournalPageQuery& query, Answer answer) override;

 private:
  QtAttachClient& client_;
  Answer waiting_;
  Connection page_;
};

class QtHistoryWindow;

// The window attached to the service at a socket: the window as ever, showing the service's
// state, and the status bar saying where it is attached. While the service is gone
// the title says SERVICE NOT RUNNING, the status bar is red and lamps and triggers are greyed.
class QtAttachedWindow {
 public:
  static constexpr const char* kLostTitleSuffix = " - SERVICE NOT RUNNING";
  static constexpr const char* kRefusedTitleSuffix = " - NOT ATTACHED";

  explicit QtAttachedWindow(const std::string& socket_path);
  QtAttachedWindow(const QtAttachedWindow&) = delete;
  QtAttachedWindow& operator=(const QtAttachedWindow&) = delete;

  PanelWindow& window() { return panel_.window(); }
  QtFormView& view() { return *view_; }
  QtAttachClient& client() { return client_; }
  const AttachedPanel& panel() const { return panel_; }
  QLabel* attach_label() const { return label_; }
  QtAnnunciatorBar& annunciator_bar() { return *annunciator_bar_; }
  QtConditionsBar& conditions_bar() { return *conditions_bar_; }
  QtAccessBar& access_bar() { return *access_bar_; }
  // The service's history, in a window of its own made at the first Ctrl+H or History click;
  // null before.
  QtHistoryWindow* history() const { return history_; }

 private:
  void ShowStatus(QtAttachClient::Status status);
  // What the service's annunciator sounds, shown and played here too; nothing while it is gone.
  void ShowAnnunciation(const PanelState& state);
  void Ask(ActionKind kind, std::string_view where = {});
  void OnResult(const std::string& result);
  void OpenHistory();

  NoticeLog notices_;
  NoticeFn notice_;
  QtAttachClient client_;
  // The window, without a line: what it shows is the service's, what it asks goes there.
  AttachedPanel panel_;
  std::unique_ptr<QtFormView> view_;
  std::unique_ptr<QtLineStatus> line_;
  QLabel* label_ = nullptr;
  std::unique_ptr<QtAnnunciatorBar> annunciator_bar_;
  std::unique_ptr<QtConditionsBar> conditions_bar_;
  // The log in at the service, shown while its access levels are on.
  std::unique_ptr<QtAccessBar> access_bar_;
  std::optional<QtSoundOutput> sound_;  // made at the first tone: Qt Multimedia's set-up is slow
  Tone playing_ = Tone::kNone;
  ServiceHistorySource history_source_{client_};
  QtHistoryWindow* history_ = nullptr;  // the view's child
  Connections connections_;
};

// Runs the attached window until it is closed; the program's exit status.
int RunQtAttachedWindow(const std::string& socket_path);

}  // namespace orv
