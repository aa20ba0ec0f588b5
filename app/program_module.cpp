#include "app/program_module.h"

#include <utility>

#include "orv_build_id.h"
#include "platform/program_folder.h"

namespace orv {

std::filesystem::path ProgramModuleFile() {
  // Only a relative folder is compiled in, so that the shipped program names no folder of the
  // machine that built it. The program's folder is its real one (the system's record), so
  // ".." leads where the build put the module, whatever link the program was started through.
  const ProgramFolderLookup self = FindProgramFolder();
  if (self.folder.empty() || self.folder == std::filesystem::path(ORV_INSTALLED_PROGRAM_FOLDER))
    return std::filesystem::path(ORV_INSTALLED_MODULE_FOLDER) / ORV_MODULE_FILE;
  return (self.folder / ORV_BUILT_MODULE_FOLDER / ORV_MODULE_FILE).lexically_normal();
}

void* ProgramModule::Find(const char* symbol) {
  if (!tried_) {
    tried_ = true;
    module_ = LoadTrustedModule(file_, ORV_BUILD_ID);
    problem_ = module_.problem;
    if (!module_.loaded()) Say();
  }
  if (!module_.loaded()) return nullptr;
  // Each capability's one instance, which the module keeps for the program's lifetime.
  auto* make = reinterpret_cast<void* (*)()>(ModuleSymbol(module_, symbol));
  if (make == nullptr) {
    problem_ = std::string("it has no ") + symbol;
    Say();
    return nullptr;
  }
  return make();
}

void ProgramModule::set_notice(NoticeFn notice) {
  notice_ = std::move(notice);
  if (tried_ && !problem_.empty()) Say();
}

void ProgramModule::Say() const {
  if (notice_) {
    notice_(Notice{NoticeLevel::kError,
                   "Network ports, the web panel, the broker, the sounder and the history's "
                   "window are unavailable: the module " +
                       file_.string() + " is not loaded: " + problem_ + "."});
  }
}

}  // namespace orv
