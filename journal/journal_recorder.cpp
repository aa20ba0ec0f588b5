#include "journal/journal_recorder.h"

#include "platform/users.h"

namespace orv {

JournalRecorder::JournalRecorder(const std::filesystem::path& program_folder, bool keep_journal,
                                 NoticeFn notice, JournalOptions options)
    : options_(std::move(options)) {
  if (options_.login.empty()) options_.login = UserName(EffectiveUserId());
  if (options_.host.empty()) options_.host = HostName();
  if (!options_.clock) options_.clock = SystemJournalTime;
  if (keep_journal) {
    // The file is opened by the first commit, not here: start-up does not wait for the disk.
    journal_ = std::make_unique<Journal>(
        program_folder.empty() ? std::filesystem::path() : program_folder / "DATA",
        std::move(notice), options_);
  }
}

void JournalRecorder::Record(JournalKind kind, std::string text, std::string raw_hex,
                             std::string detail, std::string login) {
  JournalEntry entry{options_.clock(),
                     kind,
                     std::move(text),
                     std::move(raw_hex),
                     login.empty() ? options_.login : std::move(login),
                     options_.host,
                     std::move(detail)};
  recorded_(entry);
  if (journal_) journal_->Append(std::move(entry));
}

}  // namespace orv
