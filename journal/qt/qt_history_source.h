#pragma once

#include <functional>
#include <string>

#include "journal/journal_page.h"

namespace orv {

// Where the history window's pages come from: the journal's file, read here, or the service a
// window is attached to, asked over its socket. The window and its model are the same either way.
class HistorySource {
 public:
  // The page, or why there is none (error not empty).
  using Answer = std::function<void(const std::string& error, JournalPage page)>;

  virtual ~HistorySource() = default;
  // Asks for a page; answer is called once, at once or later. Only one page is asked for at a
  // time.
  virtual void Read(const JournalPageQuery& query, Answer answer) = 0;
};

// The journal's file, through a reader the caller opened.
class FileHistorySource final : public HistorySource {
 public:
  explicit FileHistorySource(JournalReader& reader) : reader_(reader) {}

  void Read(const JournalPageQuery& query, Answer answer) override {
    JournalPage page;
    const sqlite::Result result = ReadJournalPage(reader_, query, page);
    answer(result.ok() ? std::string() : result.message, std::move(page));
  }

 private:
  JournalReader& reader_;
};

}  // namespace orv
