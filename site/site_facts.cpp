#include "site/site_facts.h"

#include <dirent.h>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <set>

#include "config/configuration.h"
#include "platform/users.h"

extern char** environ;

namespace orv {
namespace {

std::string UserNameOf(uid_t uid) {
  const struct passwd* account = getpwuid(uid);
  return account != nullptr ? account->pw_name : "uid " + std::to_string(uid);
}

std::string GroupNameOf(gid_t gid) {
  const struct group* group = getgrgid(gid);
  return group != nullptr ? group->gr_name : "gid " + std::to_string(gid);
}

// Standard output of a program of the system, started without a shell; empty when it fails.
std::string Output(std::vector<std::string> args) {
  int pipe_fds[2];
  if (pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_fds[1], STDOUT_FILENO);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  std::vector<char*> argv;
  for (std::string& arg : args)
    argv.push_back(arg.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  close(pipe_fds[1]);
  std::string text;
  if (spawned == 0) {
    char buffer[4096];
    for (ssize_t n; (n = read(pipe_fds[0], buffer, sizeof buffer)) != 0;) {
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) break;
      text.append(buffer, static_cast<std::size_t>(n));
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) text.clear();
  }
  close(pipe_fds[0]);
  return text;
}

}  // namespace

NodeFacts LookAt(const std::filesystem::path& path, bool follow) {
  NodeFacts node;
  node.path = path.string();
  struct stat st {};
  const int result = follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
  if (result != 0) {
    node.seen = errno == ENOENT || errno == ENOTDIR;
    node.problem = std::strerror(errno);
    return node;
  }
  node.seen = node.exists = true;
  node.mode = st.st_mode;
  node.owner = UserNameOf(st.st_uid);
  node.group = GroupNameOf(st.st_gid);
  return node;
}

std::vector<NodeFacts> LookBelow(const std::filesystem::path& folder) {
  std::vector<NodeFacts> nodes;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) {
    NodeFacts unseen;
    unseen.path = folder.string() + "/";
    unseen.problem = std::string("its contents: ") + std::strerror(errno);
    if (errno != ENOENT) nodes.push_back(unseen);
    return nodes;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    NodeFacts node = LookAt(folder / name);
    const bool folder_below = node.exists && S_ISDIR(node.mode);
    nodes.push_back(std::move(node));
    if (folder_below) {
      std::vector<NodeFacts> below = LookBelow(folder / name);
      nodes.insert(nodes.end(), below.begin(), below.end());
    }
  }
  return nodes;
}

std::vector<std::string> AccountsInGroup(const std::string& name) {
  const struct group* group = getgrnam(name.c_str());
  if (group == nullptr) return {};
  const std::set<std::string> names = AccountsInGroup(static_cast<std::uint32_t>(group->gr_gid));
  return {names.begin(), names.end()};
}

SiteFacts GatherSiteFacts(const SitePaths& paths) {
  SiteFacts facts;
  facts.root = geteuid() == 0;
  if (const struct passwd* account = getpwnam(kServiceUser)) {
    facts.service_user = true;
    const gid_t primary = account->pw_gid;
    facts.service_primary_group = GroupNameOf(primary);
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(kServiceUser, primary, groups.data(), &count) < 0) {
      groups.resize(static_cast<std::size_t>(count));
      getgrouplist(kServiceUser, primary, groups.data(), &count);
    }
    groups.resize(static_cast<std::size_t>(std::max(count, 0)));
    for (const gid_t gid : groups)
      facts.service_groups.push_back(GroupNameOf(gid));
  }
  for (const std::string& name : AccountsInGroup(kServiceGroup))
    if (name != kServiceUser) facts.service_group_others.push_back(name);
  facts.operators_group = getgrnam(kSiteOperatorsGroup) != nullptr;
  facts.operators = AccountsInGroup(kSiteOperatorsGroup);
  facts.devices_group = AccountsInGroup(kDevicesGroup);

  facts.state_folder = LookAt(paths.state_folder);
  if (facts.state_folder.exists && S_ISDIR(facts.state_folder.mode))
    facts.state_files = LookBelow(paths.state_folder);
  facts.socket_folder = LookAt(paths.socket_folder);
  facts.site_settings = LookAt(paths.site_settings);
  facts.users_file = LookAt(paths.users_file);

  // The service's port as it would take it; its settings file is read only where it is there,
  // since loading would make its folder.
  const NodeFacts settings = LookAt(paths.state_folder / "SYSINI" / "MainForm.INI");
  if (settings.exists && access(settings.path.c_str(), R_OK) == 0) {
    Configuration config(paths.state_folder, paths.site_settings);
    config.LoadConfigGroup("RS232Config");
    facts.port = "COM" + std::to_string(config.SerialComPort);
    facts.port_target = config.SerialDevice(config.SerialComPort);
    facts.port_is_network = !facts.port_target.empty() && facts.port_target.front() != '/';
    if (!facts.port_target.empty() && !facts.port_is_network)
      facts.device = LookAt(facts.port_target, true);
  }

  for (const char* unit : {"orvandel.socket", "orvandel.service"}) {
    facts.units.push_back(ParseUnitShow(
        unit, Output({"systemctl", "show", "-p", "UnitFileState,ActiveState,SubState", unit})));
  }
  return facts;
}

int RunSiteCheck(std::ostream& out) {
  int fixes = 0;
  for (const SiteFinding& finding : CheckSite(GatherSiteFacts({}))) {
    out << (finding.fix ? "fix: " : "note: ") << finding.text << '\n';
    fixes += finding.fix ? 1 : 0;
  }
  if (fixes == 0) {
    out << "the site is in order\n";
  } else {
    out << fixes << " thing(s) to fix\n";
  }
  out.flush();
  return fixes == 0 ? 0 : 1;
}

}  // namespace orv
