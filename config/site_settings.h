#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "config/settings_check.h"
#include "platform/notice.h"
#include "platform/profile.h"
#include "platform/users.h"

namespace orv {

// Where an installed system keeps its site-wide settings: installed by the package, owned by root,
// never written by the program.
inline constexpr std::string_view kSiteSettingsFile = "/etc/orvandel/orvandel.ini";

// Whether a settings file may carry site-wide settings, judged on the handle it was read through.
enum class SettingsTrust {
  kTrusted,
  kMissing,
  kNotRead,           // there, but not a regular file within the bound, or unreadable
  kLinked,            // a symbolic link, or a file with more than one name
  kOtherOwner,        // owned by neither root nor (where allowed) the user running the program
  kWritableByOthers,  // its group or everyone may write it
  kFolderNotSafe,     // a folder on its way up to / that someone else may change (see below)
};

// The owner and mode rule alone: root may own the file, and so may the user running the program
// when self_may_own; nobody but the owner may write it.
SettingsTrust JudgeOwnerAndMode(std::uint32_t owner, std::uint32_t mode, std::uint32_t self,
                                bool self_may_own);

// The same rule for one folder on the way from a file up to /, as ssh's StrictModes judges it:
// whoever may write a folder may rename the file in it and put another in its place. A folder
// that others may write is safe only when it is root's and sticky (like /tmp): there nobody may
// rename or remove what someone else put in it.
SettingsTrust JudgeFolder(std::uint32_t owner, std::uint32_t mode, std::uint32_t self,
                          bool self_may_own);

// The folders of a file, from its own up to /, by their real names (links resolved), judged by
// JudgeFolder. kTrusted, or why not with the first folder that failed in *culprit. The real name
// of the file goes to *real_file, so that it is read through the very folders judged here; it
// stays empty when the folder cannot be found (the file is then missing).
SettingsTrust JudgeFolders(const std::filesystem::path& file, std::uint32_t self, bool self_may_own,
                           std::filesystem::path* real_file, std::filesystem::path* culprit);

// Why a file is not trusted, as the end of a sentence ("other users can change that file").
const char* SettingsTrustText(SettingsTrust trust);

// The files a site's settings come from: the shared one and, for one instance of several
// (config/instance.h), the instance's own, read before it. A path alone is the shared file.
struct SiteFiles {
  SiteFiles(std::filesystem::path shared_file = std::filesystem::path(kSiteSettingsFile),
            std::filesystem::path instance_file = {})
      : shared(std::move(shared_file)), instance(std::move(instance_file)) {}
  std::filesystem::path shared;
  std::filesystem::path instance;  // empty: none
};

// Which file gave a key.
enum class SettingsGiver { kNone, kProgram, kInstance, kShared };

// The settings of the site rather than of one operator: the port map [SerialPorts] and whatever
// else must not be changeable by one operator against another. Any section and key can be read.
//
// A key is taken from the program's own settings file (SYSINI/MainForm.INI) when that file is
// owned by the user running the program or by root and only its owner may write it (a personal
// copy, the demo, the tests), else from the instance's file where there is one, else from the site
// file; both must be owned by root and written by root alone. The folders above each file are held
// to the same rule up to /: a file that is the user's own in a folder the group shares (the
// installed SYSINI, 2775) is not trusted, since anyone in the group could have put it there, and
// the program's own rewrite of it makes it the user's. Both files are read once, here, through the
// folders judged, and judged on the handle they were read through. The rule is the same for every
// section read here. A key set in a program file that is not trusted is ignored, and a notice names
// its section, says why and where to put it: once per section for the life of this object, which a
// caller makes once per use (a connect).
class SiteSettings {
 public:
  // Whether problems with the files themselves are said here: a second reader at the same
  // moment (the port map and another site setting, both read at a connect) leaves them to the
  // first, so that each is said once. Keys ignored in an untrusted file are said either way.
  enum class FileNotices { kSay, kLeaveToOthers };

  SiteSettings(const std::filesystem::path& program_settings_file, NoticeFn notice,
               SiteFiles site_files = {}, FileNotices file_notices = FileNotices::kSay);

  // The value of the key (blanks around it removed, at most capacity - 1 characters), or "" when
  // no trusted file sets it.
  std::string Read(std::string_view section, std::string_view key,
                   std::size_t capacity = 1024) const;

  // Which trusted file sets the key (kNone: none does).
  SettingsGiver Giver(std::string_view section, std::string_view key) const;

  // The trusted files keys are taken from, the one that wins first, under their names: what a
  // check of the values looks at. Valid while this object lives.
  std::vector<SettingsSource> Sources() const;

  SettingsTrust program_file_trust() const { return program_trust_; }
  SettingsTrust site_file_trust() const { return site_trust_; }
  SettingsTrust instance_file_trust() const { return instance_trust_; }

 private:
  struct Source {
    SettingsTrust trust = SettingsTrust::kMissing;
    std::optional<ProfileSnapshot> profile;  // whenever the file was read, trusted or not
    std::filesystem::path unsafe_folder;     // with kFolderNotSafe
  };
  // Why a file is not trusted, naming the folder when a folder is why.
  static std::string Why(const Source& source);
  static Source Load(const std::filesystem::path& file, std::uint32_t self, bool self_may_own,
                     std::string& problem);
  void Say(const std::string& text) const;
  // Reads a file root must own, saying once what keeps it out.
  std::optional<ProfileSnapshot> LoadRootsFile(const std::filesystem::path& file,
                                               std::uint32_t self, const NoticeFn& file_notice,
                                               SettingsTrust& trust) const;

  std::filesystem::path program_file_;
  std::filesystem::path site_file_;
  std::filesystem::path instance_file_;
  NoticeFn notice_;
  SettingsTrust program_trust_ = SettingsTrust::kMissing;
  std::string program_why_;
  SettingsTrust site_trust_ = SettingsTrust::kMissing;
  std::optional<ProfileSnapshot> trusted_program_;
  std::optional<ProfileSnapshot> untrusted_program_;
  std::optional<ProfileSnapshot> site_;
  SettingsTrust instance_trust_ = SettingsTrust::kMissing;
  std::optional<ProfileSnapshot> instance_;
  // Sections already named in a notice by this object.
  mutable std::set<std::string, std::less<>> said_;
};

}  // namespace orv
