#pragma once

// What orvandel --user-add, --user-passwd, --user-disable and --user-list do, apart from the
// command line: root only, the PIN asked twice at a terminal or read once from a script, the
// users file rewritten whole.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

#include "access/users_file.h"

namespace orv {

// Reads one PIN after showing the prompt; none when the input ended or failed.
using PinReader = std::function<std::optional<std::string>(std::string_view prompt)>;

struct AdminContext {
  std::filesystem::path file;
  std::istream& in;  // the PIN, one line, when it is not a terminal
  std::ostream& out;
  std::ostream& err;
  bool in_is_terminal = false;
  PinReader read_pin;  // asks at the terminal, twice for a new PIN
  std::uint32_t effective_user = 0;
  // The group that reads the rewritten file (the service's), where it exists.
  std::string reader_group = std::string(kUsersFileReaders);
};

// Each returns the program's exit code: 0 done, 1 not done (and err says why).
int UserAdd(const AdminContext& context, std::string_view name, int level);
int UserPasswd(const AdminContext& context, std::string_view name);
int UserDisable(const AdminContext& context, std::string_view name);
int UserList(const AdminContext& context);

// The controlling terminal's line, typed without echo; none without a terminal or at its end.
std::optional<std::string> ReadPinFromTerminal(std::string_view prompt);

}  // namespace orv
