#include "app/extras_loader.h"

#include <system_error>
#include <utility>

#include "platform/module_loader.h"

namespace orv {

std::filesystem::path ExtrasModuleFile() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  const bool installed = !error && self == std::filesystem::path(ORV_INSTALLED_PROGRAM);
  return std::filesystem::path(installed ? ORV_INSTALLED_MODULE_FOLDER : ORV_BUILD_MODULE_FOLDER) /
         ORV_EXTRAS_FILE;
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
