// The system journal as the place for anchors. Sending does not go through sd_journal_send():
// its socket blocks when journald's queue is full (journald stalled on a slow disk), and the tick
// must never wait; one non-blocking datagram in the same native protocol fails at once instead.
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <system_error>

#include <systemd/sd-id128.h>
#include <systemd/sd-journal.h>

#include "journal/journal_anchor.h"
#include "platform/safe_file.h"

namespace orv {
namespace {

constexpr char kSocketPath[] = "/run/systemd/journal/socket";

// The field's value from the entry journal stands on, without "KEY=".
std::string Field(sd_journal* journal, const char* key) {
  const void* data = nullptr;
  std::size_t length = 0;
  if (sd_journal_get_data(journal, key, &data, &length) < 0) return {};
  const std::string_view field(static_cast<const char*>(data), length);
  const std::size_t skip = std::strlen(key) + 1;
  return field.size() < skip ? std::string() : std::string(field.substr(skip));
}

class SystemJournal final : public JournalAnchorSink {
 public:
  bool Send(const std::string& name, const JournalAnchor& anchor, std::string& problem) override {
    if (!socket_.valid()) {
      socket_ = FileDescriptor(::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      if (!socket_.valid()) return Failed(problem);
    }
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::memcpy(address.sun_path, kSocketPath, sizeof kSocketPath);
    const std::string datagram = JournalAnchorDatagram(name, anchor);
    const ssize_t sent =
        ::sendto(socket_.get(), datagram.data(), datagram.size(), MSG_NOSIGNAL | MSG_DONTWAIT,
                 reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (sent != static_cast<ssize_t>(datagram.size())) return Failed(problem);
    return true;
  }

  std::optional<JournalAnchor> Newest(const std::string& name) override {
    std::vector<JournalAnchor> anchors = Read(name, true);
    return anchors.empty() ? std::nullopt : std::optional(std::move(anchors.back()));
  }

  std::vector<JournalAnchor> All(const std::string& name) override { return Read(name, false); }

  std::string unreadable() const override { return unreadable_; }

 private:
  // The anchors sent for the file, oldest first; only the newest when newest_only.
  std::vector<JournalAnchor> Read(const std::string& name, bool newest_only) {
    unreadable_.clear();
    sd_journal* journal = nullptr;
    if (const int r = sd_journal_open(&journal, SD_JOURNAL_LOCAL_ONLY); r < 0) {
      unreadable_ = std::string("the system journal cannot be opened: ") + std::strerror(-r);
      return {};
    }
    std::vector<JournalAnchor> anchors;
    // Only what this program sent counts: journald sets _EXE itself, from the sender's process,
    // so an anchor forged with logger or systemd-cat does not match.
    std::error_code error;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    const std::string matches[] = {"MESSAGE_ID=" + std::string(kJournalAnchorMessageId),
                                   "ORVANDEL_JOURNAL_FILE=" + name, "_EXE=" + self.string()};
    bool matched = !error;
    for (const std::string& match : matches)
      matched = matched && sd_journal_add_match(journal, match.data(), match.size()) >= 0;
    int found = matched && sd_journal_seek_tail(journal) >= 0 ? 0 : -EIO;
    while (found >= 0 && (found = sd_journal_previous(journal)) > 0) {
      if (std::optional<JournalAnchor> anchor = FromEntry(journal))
        anchors.push_back(std::move(*anchor));
      if (newest_only && !anchors.empty()) break;
    }
    sd_journal_close(journal);
    std::reverse(anchors.begin(), anchors.end());
    if (found < 0) {
      unreadable_ = std::string("the system journal cannot be searched: ") + std::strerror(-found);
    } else if (anchors.empty()) {
      unreadable_ = SystemJournalUnreadable(SystemFolders());
    }
    return anchors;
  }

  static std::optional<JournalAnchor> FromEntry(sd_journal* journal) {
    JournalAnchor anchor;
    if (!ParseJournalAnchor(Field(journal, "ORVANDEL_JOURNAL_SEQUENCE") + ':' +
                                Field(journal, "ORVANDEL_JOURNAL_CHAIN"),
                            anchor) ||
        !ParseJournalAsides(Field(journal, "ORVANDEL_JOURNAL_ASIDE"), anchor.asides)) {
      return std::nullopt;
    }
    const std::string broken = Field(journal, "ORVANDEL_JOURNAL_BROKEN");
    if (broken.size() > 18) return std::nullopt;
    for (const char c : broken) {
      if (c < '0' || c > '9') return std::nullopt;
      anchor.broken_at = anchor.broken_at * 10 + (c - '0');
    }
    return anchor;
  }

  static bool Failed(std::string& problem) {
    problem = std::string(kSocketPath) + ": " + std::strerror(errno);
    return false;
  }

  // Where journald keeps the system's file: persistent, else volatile.
  static std::vector<std::filesystem::path> SystemFolders() {
    sd_id128_t machine;
    if (sd_id128_get_machine(&machine) < 0) return {};
    char id[SD_ID128_STRING_MAX];
    sd_id128_to_string(machine, id);
    return {std::filesystem::path("/var/log/journal") / id,
            std::filesystem::path("/run/log/journal") / id};
  }

  FileDescriptor socket_;
  std::string unreadable_;
};

}  // namespace

// sd-journal passes over the files this user may not open without a word: a user outside
// systemd-journal (a site's service user, an operator) reads no anchor where there are some. A
// site's service is a system unit, so journald keeps its anchors in system.journal; that file
// there and closed to this user is what makes "no anchor" unproven. (A window's own anchors go to
// its user's journal, which it can read; they are found before this is asked.)
std::string SystemJournalUnreadable(const std::vector<std::filesystem::path>& folders) {
  for (const std::filesystem::path& folder : folders) {
    const std::filesystem::path file = folder / "system.journal";
    FileDescriptor fd(::open(file.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    if (!fd.valid() && (errno == ENOENT || errno == ENOTDIR)) continue;
    if (!fd.valid()) return file.string() + ": " + std::strerror(errno);
  }
  return {};
}

std::shared_ptr<JournalAnchorSink> SystemJournalAnchors() {
  return std::make_shared<SystemJournal>();
}

}  // namespace orv
