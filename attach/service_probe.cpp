#include "attach/service_probe.h"

#include <sys/stat.h>

#include <algorithm>
#include <system_error>

namespace orv {
namespace {

constexpr char kSocketName[] = "panel.sock";

}  // namespace

bool SiteSocketPresent(const std::string& path) {
  struct stat st {};
  return !path.empty() && lstat(path.c_str(), &st) == 0 && S_ISSOCK(st.st_mode);
}

std::vector<std::string> RunningInstances(const std::filesystem::path& run_folder) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(run_folder, error)) {
    const std::string name = entry.path().filename().string();
    if (!InstanceNameProblem(name).empty()) continue;
    if (SiteSocketPresent((entry.path() / kSocketName).string())) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

ServiceSocketChoice ChooseServiceSocket(const std::optional<std::string>& socket,
                                        const std::optional<std::string>& instance,
                                        const std::filesystem::path& run_folder) {
  if (socket) return {*socket, true, {}};
  if (instance) return {(run_folder / *instance / kSocketName).string(), true, {}};
  const std::string plain = (run_folder / kSocketName).string();
  if (SiteSocketPresent(plain)) return {plain, true, {}};
  std::vector<std::string> running = RunningInstances(run_folder);
  if (running.size() == 1) return {(run_folder / running.front() / kSocketName).string(), true, {}};
  if (running.size() > 1) return {{}, false, std::move(running)};
  return {plain, false, {}};
}

std::string SeveralInstancesText(const std::vector<std::string>& instances) {
  std::string names;
  for (const std::string& name : instances)
    names += (names.empty() ? "" : ", ") + name;
  return "several instances run here (" + names + "): name one with --instance NAME";
}

}  // namespace orv
