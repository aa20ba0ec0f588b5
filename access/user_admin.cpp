// Managing operators from the command line.

#include "access/user_admin.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <istream>
#include <ostream>
#include <vector>

#include "access/pin_hash.h"
#include "access/users_file.h"
#include "platform/safe_file.h"

namespace orv {

namespace {

constexpr int kDone = 0;
constexpr int kFailed = 1;

// The operators as they stand, or none (err said why) when the file may not be relied on: not
// trusted, or with lines a rewrite would drop unless only listing.
std::optional<UsersFile> Load(const AdminContext& context, bool for_rewrite) {
  if (context.effective_user != 0) {
    context.err << "Only root may manage the operators in " << context.file.string()
                << "; run this again as root (with sudo).\n";
    return std::nullopt;
  }
  std::vector<std::string> notices;
  UsersFile users = ReadUsersFile(
      context.file, [&notices](const Notice& notice) { notices.push_back(notice.text); });
  for (const std::string& text : notices)
    context.err << text << '\n';
  if (users.mode == AccessMode::kOnButUntrusted) {
    context.err << "Nothing was changed.\n";
    return std::nullopt;
  }
  if (for_rewrite && !notices.empty()) {
    context.err << "Nothing was changed: correct or remove those lines first, so that no "
                   "operator is lost by rewriting the file.\n";
    return std::nullopt;
  }
  return users;
}

// A new PIN, asked twice at a terminal (a typo there goes unseen), once from a script.
std::optional<std::string> NewPin(const AdminContext& context, std::string_view name) {
  std::optional<std::string> pin;
  if (context.in_is_terminal) {
    pin = context.read_pin("PIN for " + std::string(name) + ": ");
    if (pin) {
      const std::optional<std::string> again = context.read_pin("The same PIN again: ");
      if (!again) {
        pin.reset();
      } else if (*again != *pin) {
        context.err << "The two PINs differ; nothing was changed.\n";
        return std::nullopt;
      }
    }
  } else {
    std::string line;
    if (std::getline(context.in, line)) pin = std::move(line);
  }
  if (!pin) {
    context.err << "No PIN was given; nothing was changed.\n";
    return std::nullopt;
  }
  if (!IsValidPin(*pin)) {
    context.err << "A PIN is at least 4 digits, and digits only; nothing was changed.\n";
    return std::nullopt;
  }
  return pin;
}

int Save(const AdminContext& context, const UsersFile& users, const std::string& done) {
  std::string error;
  if (!WriteUsersFile(context.file, users.operators, error, context.reader_group)) {
    context.err << context.file.string() << " was not changed: " << error << '\n';
    return kFailed;
  }
  context.out << done << '\n';
  return kDone;
}

// The operator to change, or none (err said why).
Operator* Existing(const AdminContext& context, UsersFile& users, std::string_view name) {
  Operator* op = users.Find(name);
  if (op == nullptr) {
    context.err << "There is no operator " << name << " in " << context.file.string() << ".\n";
  }
  return op;
}

}  // namespace

int UserAdd(const AdminContext& context, std::string_view name, int level) {
  std::optional<UsersFile> users = Load(context, true);
  if (!users) return kFailed;
  if (!IsValidOperatorName(name)) {
    context.err << "An operator's name is 1 to 32 of the characters A-Z a-z 0-9 . _ -\n";
    return kFailed;
  }
  if (level != 2 && level != 3) {
    context.err << "The level of an operator is 2 or 3.\n";
    return kFailed;
  }
  if (users->Find(name) != nullptr) {
    context.err << "Operator " << name << " exists already; --user-passwd changes the PIN.\n";
    return kFailed;
  }
  const std::optional<std::string> pin = NewPin(context, name);
  if (!pin) return kFailed;
  const std::optional<std::string> hash = HashPin(*pin);
  if (!hash) {
    context.err << "The PIN could not be hashed; nothing was changed.\n";
    return kFailed;
  }
  users->operators.push_back(Operator{
      std::string(name), level == 2 ? AccessLevel::kLevel2 : AccessLevel::kLevel3, *hash, false});
  return Save(context, *users,
              "Operator " + std::string(name) + " added at level " + std::to_string(level) + ".");
}

int UserPasswd(const AdminContext& context, std::string_view name) {
  std::optional<UsersFile> users = Load(context, true);
  if (!users) return kFailed;
  Operator* op = Existing(context, *users, name);
  if (op == nullptr) return kFailed;
  const std::optional<std::string> pin = NewPin(context, name);
  if (!pin) return kFailed;
  std::optional<std::string> hash = HashPin(*pin);
  if (!hash) {
    context.err << "The PIN could not be hashed; nothing was changed.\n";
    return kFailed;
  }
  op->hash = std::move(*hash);
  return Save(context, *users, "The PIN of " + std::string(name) + " was changed.");
}

int UserDisable(const AdminContext& context, std::string_view name) {
  std::optional<UsersFile> users = Load(context, true);
  if (!users) return kFailed;
  Operator* op = Existing(context, *users, name);
  if (op == nullptr) return kFailed;
  op->disabled = true;
  return Save(context, *users, "Operator " + std::string(name) + " is disabled.");
}

int UserList(const AdminContext& context) {
  const std::optional<UsersFile> users = Load(context, false);
  if (!users) return kFailed;
  if (users->mode == AccessMode::kOff) {
    context.out << "There is no " << context.file.string() << ": access levels are off.\n";
    return kDone;
  }
  for (const Operator& op : users->operators) {
    context.out << op.name << "\tlevel " << LevelNumber(op.level)
                << (op.disabled ? "\tdisabled" : "") << '\n';
  }
  return kDone;
}

std::optional<std::string> ReadPinFromTerminal(std::string_view prompt) {
  FileDescriptor tty(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!tty.valid()) return std::nullopt;
  termios saved{};
  if (::tcgetattr(tty.get(), &saved) != 0) return std::nullopt;
  termios quiet = saved;
  quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
  quiet.c_lflag |= ECHONL;
  if (!WriteAll(tty.get(), prompt.data(), prompt.size()) ||
      ::tcsetattr(tty.get(), TCSAFLUSH, &quiet) != 0) {
    return std::nullopt;
  }
  std::string line;
  bool ended = false;
  for (;;) {
    char c = 0;
    const ssize_t n = ::read(tty.get(), &c, 1);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ended = true;
      break;
    }
    if (c == '\n') break;
    line.push_back(c);
  }
  ::tcsetattr(tty.get(), TCSAFLUSH, &saved);
  if (ended) return std::nullopt;
  return line;
}

}  // namespace orv
