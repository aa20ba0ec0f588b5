// The loader of the program's own modules, on copies of a real module put where each case needs.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "platform/module_loader.h"
#include "tests/support/built_programs.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

struct Case {
  const char* name;
  // Puts the module (or something else) at folder/"module.so"; returns the folder to load from.
  std::function<fs::path(const fs::path& root)> setup;
  const char* problem;  // "" when it must load
  bool needs_root = false;
};

fs::path Install(const fs::path& folder) {
  fs::create_directories(folder);
  fs::copy_file(test::kTestModule, folder / "module.so", fs::copy_options::overwrite_existing);
  chmod((folder / "module.so").c_str(), 0644);
  return folder;
}

TEST(ModuleLoader, LoadsOnlyATrustedRegularFileFromATrustedFolder) {
  const Case cases[] = {
      {"good", [](const fs::path& r) { return Install(r / "lib"); }, ""},
      {"missing",
       [](const fs::path& r) {
         fs::create_directory(r / "lib");
         return r / "lib";
       },
       "it is missing"},
      {"link",
       [](const fs::path& r) {
         Install(r / "real");
         fs::create_directory(r / "lib");
         fs::create_symlink(r / "real" / "module.so", r / "lib" / "module.so");
         return r / "lib";
       },
       "it is a symbolic link"},
      {"folder is a link",
       [](const fs::path& r) {
         Install(r / "real");
         fs::create_directory_symlink(r / "real", r / "lib");
         return r / "lib";
       },
       "its folder is a symbolic link"},
      {"group-writable",
       [](const fs::path& r) {
         Install(r / "lib");
         chmod((r / "lib" / "module.so").c_str(), 0664);
         return r / "lib";
       },
       "it can be changed by other users (chmod go-w)"},
      {"folder writable by others",
       [](const fs::path& r) {
         Install(r / "lib");
         chmod((r / "lib").c_str(), 0777);
         return r / "lib";
       },
       "its folder can be changed by other users (chmod go-w)"},
      {"a pipe",
       [](const fs::path& r) {
         fs::create_directory(r / "lib");
         mkfifo((r / "lib" / "module.so").c_str(), 0644);
         return r / "lib";
       },
       "it is not a regular file"},
      {"not a module",
       [](const fs::path& r) {
         fs::create_directory(r / "lib");
         test::WriteBytes(r / "lib" / "module.so", "#!/bin/sh\n");
         chmod((r / "lib" / "module.so").c_str(), 0644);
         return r / "lib";
       },
       "it cannot be loaded ("},
      {"another user's",
       [](const fs::path& r) {
         Install(r / "lib");
         if (chown((r / "lib" / "module.so").c_str(), 65534, 65534) != 0) ADD_FAILURE();
         return r / "lib";
       },
       "it belongs to user ", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.needs_root && geteuid() != 0) continue;  // only root can give a file away
    const test::TempFolder root;
    const LoadedModule module = LoadTrustedModule(c.setup(root.path()) / "module.so");
    if (*c.problem == '\0') {
      ASSERT_TRUE(module.loaded()) << module.problem;
      auto* answer = reinterpret_cast<int (*)()>(ModuleSymbol(module, "orv_test_module_answer"));
      ASSERT_NE(answer, nullptr);
      EXPECT_EQ(answer(), 42);
    } else {
      EXPECT_FALSE(module.loaded());
      EXPECT_EQ(module.problem.rfind(c.problem, 0), 0u) << module.problem;
    }
  }
}

}  // namespace
}  // namespace orv
