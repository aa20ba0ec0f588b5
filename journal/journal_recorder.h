#pragma once

#include <filesystem>
#include <memory>
#include <string>

#include "journal/journal.h"
#include "platform/notice.h"
#include "platform/signal.h"

namespace orv {

// What the program records about itself: every record is stamped with the program's login and
// host, handed to every listener as it is made (the headless lines, the broker) and queued for
// the journal, which writes what a tick queued in one commit. Without a journal (a comparison
// run, or no program folder to keep one in) the records still reach the listeners.
class JournalRecorder {
 public:
  // keep_journal: DATA/Journal.sqlite under program_folder; an empty login or host is filled
  // with the program's user and this machine's name.
  JournalRecorder(const std::filesystem::path& program_folder, bool keep_journal, NoticeFn notice,
                  JournalOptions options);
  JournalRecorder(const JournalRecorder&) = delete;
  JournalRecorder& operator=(const JournalRecorder&) = delete;

  // Queues one record; Commit() writes it. An empty login is the program's: a record of an
  // action a window attached to the service or a web panel asked for carries theirs.
  void Record(JournalKind kind, std::string text, std::string raw_hex = {}, std::string detail = {},
              std::string login = {});
  // Everything queued since the last commit, in one transaction; then the chain's head goes to
  // its anchor when a record asked for it.
  void Commit() {
    if (!journal_) return;
    journal_->Commit();
    if (anchor_requested_) journal_->AnchorNow();
    anchor_requested_ = false;
  }
  // The head is anchored after the next commit (a link change: a moment worth proving later).
  void RequestAnchor() { anchor_requested_ = true; }

  Signal<const JournalEntry&>& recorded() { return recorded_; }
  // Null when the program runs without a journal.
  Journal* journal() { return journal_.get(); }
  JournalTime Now() const { return options_.clock(); }
  const std::string& login() const { return options_.login; }

 private:
  JournalOptions options_;
  std::unique_ptr<Journal> journal_;
  Signal<const JournalEntry&> recorded_;
  bool anchor_requested_ = false;
};

}  // namespace orv
