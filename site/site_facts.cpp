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
#include <iterator>
#include <map>
#include <set>

#include "config/configuration.h"
#include "config/instance.h"
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

namespace {

// The service's web panel's port and its line as it would take them, from its settings. Its own
// settings file is read only where it is there, since loading would make its folder; where it is
// not, the service has not started yet, and an instance would take COM1 (default_port).
void GatherLine(const std::filesystem::path& folder, const SiteFiles& files, bool default_port,
                ServiceFacts& service) {
  Configuration config(folder, files);
  service.web_port =
      ListenPort(SiteSettings(config.ConfigFile(), {}, files).Read("WebPanel", "Listen"));
  const NodeFacts own = LookAt(config.ConfigFile());
  if (own.exists && access(own.path.c_str(), R_OK) == 0) {
    config.LoadConfigGroup("RS232Config");
  } else if (!(default_port && own.seen && !own.exists)) {
    return;
  }
  service.port = "COM" + std::to_string(config.SerialComPort);
  service.port_target = config.SerialDevice(config.SerialComPort);
  service.port_is_network = !service.port_target.empty() && service.port_target.front() != '/';
  service.line = service.port_target;
  if (!service.port_target.empty() && !service.port_is_network) {
    service.device = LookAt(service.port_target, true);
    std::error_code error;
    const std::filesystem::path real = std::filesystem::canonical(service.port_target, error);
    if (!error) service.line = real.string();
  }
}

// The socket unit and the service unit of each of names ("orvandel", "orvandel@b"), asked of
// systemctl at once.
std::vector<std::vector<UnitFacts>> Units(const std::vector<std::string>& names) {
  std::vector<std::string> units;
  for (const std::string& name : names) {
    units.push_back(name + ".socket");
    units.push_back(name + ".service");
  }
  std::vector<std::string> args = {"systemctl", "show", "-p", "UnitFileState,ActiveState,SubState"};
  args.insert(args.end(), units.begin(), units.end());
  const std::vector<UnitFacts> all = ParseUnitsShow(units, Output(args));
  std::vector<std::vector<UnitFacts>> pairs;
  for (std::size_t i = 0; i + 1 < all.size(); i += 2)
    pairs.push_back({all[i], all[i + 1]});
  return pairs;
}

// The instances' folders are taken out of the plain service's tree, each with what is below it.
std::map<std::string, std::vector<NodeFacts>> TakeInstanceTrees(const std::string& state_folder,
                                                                std::vector<NodeFacts>& tree) {
  std::map<std::string, std::vector<NodeFacts>> instances;
  for (const NodeFacts& node : tree) {
    const std::string name = node.path.substr(std::min(node.path.size(), state_folder.size() + 1));
    if (node.exists && S_ISDIR(node.mode) && name.find('/') == std::string::npos &&
        InstanceNameProblem(name).empty())
      instances[name];
  }
  std::vector<NodeFacts> plain;
  for (NodeFacts& node : tree) {
    const std::string below = node.path.substr(std::min(node.path.size(), state_folder.size() + 1));
    const auto instance = instances.find(below.substr(0, below.find('/')));
    if (instance == instances.end()) {
      plain.push_back(std::move(node));
    } else {
      instance->second.push_back(std::move(node));  // its folder first
    }
  }
  tree = std::move(plain);
  return instances;
}

void GatherInstances(const SitePaths& paths, const std::string& unit_listings, SiteFacts& facts) {
  std::map<std::string, std::vector<NodeFacts>> trees =
      TakeInstanceTrees(paths.state_folder.string(), facts.state_files);
  std::set<std::string> names;
  for (const auto& [name, tree] : trees)
    names.insert(name);
  for (const std::string& name : ParseInstanceUnits(unit_listings)) {
    if (InstanceNameProblem(name).empty()) {
      names.insert(name);
    } else {
      facts.misnamed_units.push_back(name);
    }
  }
  const std::filesystem::path settings_folder = paths.site_settings.parent_path();
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(settings_folder, error)) {
    const std::string file = entry.path().filename().string();
    if (file.size() <= 4 || file.substr(file.size() - 4) != ".ini" ||
        file == paths.site_settings.filename())
      continue;
    const std::string name = file.substr(0, file.size() - 4);
    if (InstanceNameProblem(name).empty()) {
      names.insert(name);
    } else {
      facts.misnamed_settings.push_back(entry.path().string());
    }
  }
  std::sort(facts.misnamed_settings.begin(), facts.misnamed_settings.end());
  for (const std::string& name : names) {
    InstanceFacts instance;
    instance.name = name;
    const std::filesystem::path folder = paths.state_folder / name;
    std::vector<NodeFacts>& tree = trees[name];
    if (tree.empty()) {
      // Not seen in the plain service's tree (which only root may read): looked at on its own.
      instance.state_folder = LookAt(folder);
      if (instance.state_folder.exists && S_ISDIR(instance.state_folder.mode))
        instance.state_files = LookBelow(folder);
    } else {
      instance.state_folder = std::move(tree.front());
      instance.state_files.assign(std::make_move_iterator(tree.begin() + 1),
                                  std::make_move_iterator(tree.end()));
    }
    instance.socket_folder = LookAt(paths.socket_folder / name);
    instance.settings = LookAt(settings_folder / (name + ".ini"));
    GatherLine(folder, SiteFiles(paths.site_settings, instance.settings.path), true, instance);
    facts.instances.push_back(std::move(instance));
  }
}

// Every service's units.
void GatherUnits(SiteFacts& facts) {
  std::vector<std::string> names = {"orvandel"};
  for (const InstanceFacts& instance : facts.instances)
    names.push_back("orvandel@" + instance.name);
  std::vector<std::vector<UnitFacts>> units = Units(names);
  facts.units = std::move(units[0]);
  for (std::size_t i = 0; i < facts.instances.size(); ++i)
    facts.instances[i].units = std::move(units[i + 1]);
}

}  // namespace

SiteFacts GatherSiteFacts(const SitePaths& paths, const std::string& unit_listings) {
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

  GatherLine(paths.state_folder, paths.site_settings, false, facts);
  GatherInstances(paths, unit_listings, facts);
  GatherUnits(facts);
  return facts;
}

int RunSiteCheck(std::ostream& out) {
  int fixes = 0;
  const std::string listings =
      Output({"systemctl", "list-units", "--all", "--full", "--plain", "--no-legend", "--no-pager",
              "orvandel@*"}) +
      Output({"systemctl", "list-unit-files", "--full", "--no-legend", "--no-pager", "orvandel@*"});
  for (const SiteFinding& finding : CheckSite(GatherSiteFacts({}, listings))) {
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
