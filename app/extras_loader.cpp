#include "app/extras_loader.h"

#include <utility>

#include "platform/module_loader.h"
#include "platform/program_folder.h"

namespace orv {

std::filesystem::path ExtrasModuleFile() {
  // Only a relative folder is compiled in, so that the shipped program names no folder of the
  // machine that built it. The program's folder is its real one (the system's record), so
  // ".." leads where the build put the module, whatever link the program was started through.
  const ProgramFolderLookup self = FindProgramFolder();
  if (self.folder.empty() || self.folder == std::filesystem::path(ORV_INSTALLED_PROGRAM_FOLDER))
    return std::filesystem::path(ORV_INSTALLED_MODULE_FOLDER) / ORV_EXTRAS_FILE;
  return (self.folder / ORV_BUILT_MODULE_FOLDER / ORV_EXTRAS_FILE).lexically_normal();
}

Extras* ExtrasModule::Get() {
  if (tried_) return extras_.get();
  tried_ = true;
  const LoadedModule module = LoadTrustedModule(file_);
  problem_ = module.problem;
  if (module.loaded()) {
    auto factory = reinterpret_cast<ExtrasFactory>(ModuleSymbol(module, kExtrasFactory));
    if (factory == nullptr) {
      problem_ = "it is not the program's module";
    } else {
      extras_.reset(factory(ORV_EXTRAS_VERSION));
      if (!extras_) problem_ = "it belongs to another build of the program";
    }
  }
  if (!extras_) Say();
  return extras_.get();
}

void ExtrasModule::set_notice(NoticeFn notice) {
  notice_ = std::move(notice);
  if (tried_ && !extras_) Say();
}

void ExtrasModule::Say() const {
  if (notice_) {
    notice_(Notice{NoticeLevel::kError,
                   "Network ports, the web panel, the broker, the sounder and the history's "
                   "window are unavailable: the module " +
                       file_.string() + " is not loaded: " + problem_ + "."});
  }
}

}  // namespace orv
