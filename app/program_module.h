#pragma once

// The program's module as the program finds it: in the installed library folder for the
// installed program (and where the program's own folder cannot be found), for any other where
// the build tree puts it beside the program's folder (lib/orvandel beside app/); never from the
// working folder, a search path or the program's folder, where others may write. Only a module
// of this build (its build id) is loaded.

#include <filesystem>
#include <string>

#include "app/module_capabilities.h"
#include "platform/module_loader.h"
#include "platform/notice.h"

namespace orv {

std::filesystem::path ProgramModuleFile();

// Loaded at the first Get(); a module that is missing or refused is said once through notice,
// with what goes without it and why.
class ProgramModule {
 public:
  ProgramModule(std::filesystem::path file, NoticeFn notice)
      : file_(std::move(file)), notice_(std::move(notice)) {}

  // The module's Capability (module_capabilities.h); nullptr without the module.
  template <class Capability>
  Capability* Get() {
    return static_cast<Capability*>(Find(Capability::kSymbol));
  }
  // Where the notice goes from now on; a failure before is said now.
  void set_notice(NoticeFn notice);
  // Why Get() gave nothing; empty before the first try and after a load.
  const std::string& problem() const { return problem_; }

 private:
  void* Find(const char* symbol);
  void Say() const;

  std::filesystem::path file_;
  NoticeFn notice_;
  bool tried_ = false;
  LoadedModule module_;
  std::string problem_;
};

}  // namespace orv
