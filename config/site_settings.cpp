#include "config/site_settings.h"

#include <utility>

#include <sys/stat.h>

namespace orv {
namespace {

// What no value can be: values end at the line break.
constexpr std::string_view kUnset = "\n";

std::optional<std::string> Lookup(const std::optional<ProfileSnapshot>& profile,
                                  std::string_view section, std::string_view key,
                                  std::size_t capacity) {
  if (!profile) return std::nullopt;
  std::string value = profile->Read(section, key, kUnset, capacity);
  if (value == kUnset) return std::nullopt;
  return value;
}

}  // namespace

SettingsTrust JudgeOwnerAndMode(std::uint32_t owner, std::uint32_t mode, std::uint32_t self,
                                bool self_may_own) {
  constexpr std::uint32_t kGroupOrOthersWrite = 0022;
  if (owner != 0 && !(self_may_own && owner == self)) return SettingsTrust::kOtherOwner;
  if ((mode & kGroupOrOthersWrite) != 0) return SettingsTrust::kWritableByOthers;
  return SettingsTrust::kTrusted;
}

SettingsTrust JudgeFolder(std::uint32_t owner, std::uint32_t mode, std::uint32_t self,
                          bool self_may_own) {
  constexpr std::uint32_t kSticky = 01000;
  if (owner == 0 && (mode & kSticky) != 0) return SettingsTrust::kTrusted;
  return JudgeOwnerAndMode(owner, mode, self, self_may_own);
}

SettingsTrust JudgeFolders(const std::filesystem::path& file, std::uint32_t self, bool self_may_own,
                           std::filesystem::path* real_file, std::filesystem::path* culprit) {
  namespace fs = std::filesystem;
  const fs::path parent = file.parent_path().empty() ? fs::path(".") : file.parent_path();
  std::error_code error;
  const fs::path real = fs::canonical(parent, error);
  if (error) return SettingsTrust::kMissing;
  if (real_file != nullptr) *real_file = real / file.filename();
  // Up to / by the real names: nothing on the way is a link, so what is judged is what is read.
  for (fs::path folder = real;; folder = folder.parent_path()) {
    struct stat info {};
    if (::lstat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode) ||
        JudgeFolder(static_cast<std::uint32_t>(info.st_uid),
                    static_cast<std::uint32_t>(info.st_mode & 07777), self,
                    self_may_own) != SettingsTrust::kTrusted) {
      if (culprit != nullptr) *culprit = folder;
      return SettingsTrust::kFolderNotSafe;
    }
    if (folder == folder.parent_path()) return SettingsTrust::kTrusted;
  }
}

const char* SettingsTrustText(SettingsTrust trust) {
  switch (trust) {
    case SettingsTrust::kTrusted:
      return "it is trusted";
    case SettingsTrust::kMissing:
      return "it is missing";
    case SettingsTrust::kNotRead:
      return "it could not be read";
    case SettingsTrust::kLinked:
      return "it is a link, or has more than one name";
    case SettingsTrust::kOtherOwner:
      return "it belongs to another user";
    case SettingsTrust::kFolderNotSafe:
      return "other users can change a folder above it";
    case SettingsTrust::kWritableByOthers:
      break;
  }
  return "other users can change that file";
}

SiteSettings::SiteSettings(const std::filesystem::path& program_settings_file, NoticeFn notice,
                           SiteFiles site_files, FileNotices file_notices)
    : program_file_(program_settings_file),
      site_file_(std::move(site_files.shared)),
      instance_file_(std::move(site_files.instance)),
      notice_(std::move(notice)) {
  const std::uint32_t self = EffectiveUserId();
  std::string problem;
  // File problems go to this notice; the section notices of Read() go to notice_.
  const NoticeFn file_notice = file_notices == FileNotices::kSay ? notice_ : NoticeFn();
  const auto say_file = [&file_notice](const std::string& text) {
    if (file_notice) file_notice(Notice{NoticeLevel::kWarning, text});
  };
  Source program = Load(program_file_, self, true, problem);
  program_trust_ = program.trust;
  program_why_ = Why(program);
  if (program.trust == SettingsTrust::kTrusted) {
    trusted_program_ = std::move(program.profile);
  } else {
    untrusted_program_ = std::move(program.profile);
  }
  // A file that could not be read has no keys to name; it is said here.
  if (program.trust == SettingsTrust::kLinked && !problem.empty()) {
    say_file(program_file_.string() + " " + problem +
             ": site-wide settings are not taken from it.");
  } else if (!problem.empty()) {
    say_file(program_file_.string() + " " + problem + ": its settings were not read.");
  }

  if (!instance_file_.empty())
    instance_ = LoadRootsFile(instance_file_, self, file_notice, instance_trust_);
  site_ = LoadRootsFile(site_file_, self, file_notice, site_trust_);
}

std::optional<ProfileSnapshot> SiteSettings::LoadRootsFile(const std::filesystem::path& file,
                                                           std::uint32_t self,
                                                           const NoticeFn& file_notice,
                                                           SettingsTrust& trust) const {
  std::string problem;
  Source source = Load(file, self, false, problem);
  trust = source.trust;
  if (source.trust == SettingsTrust::kTrusted) return std::move(source.profile);
  std::string text;
  if (!problem.empty()) {
    text = file.string() + " " + problem + ": its settings were not read.";
  } else if (source.trust != SettingsTrust::kMissing) {
    text = file.string() + " is ignored: " + Why(source) +
           ". It must belong to root, and only root may write it and the folders above it.";
  }
  if (!text.empty() && file_notice) file_notice(Notice{NoticeLevel::kWarning, text});
  return std::nullopt;
}

SiteSettings::Source SiteSettings::Load(const std::filesystem::path& file, std::uint32_t self,
                                        bool self_may_own, std::string& problem) {
  problem.clear();
  Source source;
  // No file named (a program with no settings file of its own, as the overview): nothing to say.
  if (file.empty()) return source;
  std::filesystem::path real_file;
  const SettingsTrust folders =
      JudgeFolders(file, self, self_may_own, &real_file, &source.unsafe_folder);
  if (real_file.empty()) return source;  // no folder, no file
  ProfileSnapshot read(real_file);
  if (read.state() == ProfileFileState::kMissing) return source;
  if (read.state() != ProfileFileState::kRead || !read.owner()) {
    source.trust = read.refused_as_link() ? SettingsTrust::kLinked : SettingsTrust::kNotRead;
    problem = read.Problem();
    return source;
  }
  // The reader took a regular file with one name only; who may change it decides the rest.
  source.trust = JudgeOwnerAndMode(read.owner()->user, read.owner()->mode, self, self_may_own);
  // Only then the folders: a file that is not trusted itself is said to be so.
  if (source.trust == SettingsTrust::kTrusted) source.trust = folders;
  source.profile = std::move(read);
  return source;
}

std::string SiteSettings::Why(const Source& source) {
  if (source.trust == SettingsTrust::kFolderNotSafe && !source.unsafe_folder.empty()) {
    return "other users can change the folder " + source.unsafe_folder.string();
  }
  return SettingsTrustText(source.trust);
}

std::string SiteSettings::Read(std::string_view section, std::string_view key,
                               std::size_t capacity) const {
  if (capacity < 2) return {};  // room for no character
  if (auto value = Lookup(trusted_program_, section, key, capacity)) return *std::move(value);
  if (Lookup(untrusted_program_, section, key, capacity) && said_.emplace(section).second) {
    Say("[" + std::string(section) + "] in " + program_file_.string() +
        " is ignored: " + program_why_ + ". Put site-wide settings in " +
        (instance_file_.empty() ? site_file_ : instance_file_).string() + ".");
  }
  if (auto value = Lookup(instance_, section, key, capacity)) return *std::move(value);
  if (auto value = Lookup(site_, section, key, capacity)) return *std::move(value);
  return {};
}

SettingsGiver SiteSettings::Giver(std::string_view section, std::string_view key) const {
  if (Lookup(trusted_program_, section, key, 2)) return SettingsGiver::kProgram;
  if (Lookup(instance_, section, key, 2)) return SettingsGiver::kInstance;
  if (Lookup(site_, section, key, 2)) return SettingsGiver::kShared;
  return SettingsGiver::kNone;
}

std::vector<SettingsSource> SiteSettings::Sources() const {
  std::vector<SettingsSource> sources;
  if (trusted_program_) sources.push_back({program_file_.string(), &*trusted_program_});
  if (instance_) sources.push_back({instance_file_.string(), &*instance_});
  if (site_) sources.push_back({site_file_.string(), &*site_});
  return sources;
}

void SiteSettings::Say(const std::string& text) const {
  if (notice_) notice_(Notice{NoticeLevel::kWarning, text});
}

}  // namespace orv
