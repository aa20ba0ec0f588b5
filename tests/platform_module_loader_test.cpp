// The loader of the program's own modules, on copies of a real module put where each case needs.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <functional>
#include <string>
#include <tuple>

#include "platform/module_loader.h"
#include "tests/support/built_programs.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

namespace fs = std::filesystem;

// The test module's build id (tests/module/answer_module.cpp).
constexpr const char* kTestBuild = "the loader's test build";

TEST(ModuleLoader, LoadsOnlyATrustedRegularFileOfThisBuildFromATrustedFolder) {
  // A good copy of the module in real/, and lib/ (empty) beside it: each case puts what it needs
  // at lib/module.so, or replaces lib. Then how the refusal starts; "" when it must load.
  using Put = std::function<void(const fs::path& real, const fs::path& lib)>;
  const Put copy = [](auto& real, auto& lib) {
    fs::copy_file(real / "module.so", lib / "module.so");
  };
  const auto copied = [&copy](std::function<void(const fs::path& lib)> change) -> Put {
    return [=](auto& real, auto& lib) {
      copy(real, lib);
      change(lib);
    };
  };
  // A good copy, its bytes then changed.
  const auto patched = [&copied](std::function<void(std::string & bytes)> change) -> Put {
    return copied([=](auto& lib) {
      std::string bytes = test::ReadBytes(lib / "module.so");
      change(bytes);
      test::WriteBytes(lib / "module.so", bytes);
    });
  };
  const std::tuple<const char*, Put, const char*> cases[] = {
      {"good", copy, ""},
      {"missing", [](auto&, auto&) {}, "it is missing"},
      {"link",
       [](auto& real, auto& lib) { fs::create_symlink(real / "module.so", lib / "module.so"); },
       "it is a symbolic link"},
      {"folder is a link",
       [](auto& real, auto& lib) {
         fs::remove(lib);
         fs::create_directory_symlink(real, lib);
       },
       "its folder is a symbolic link"},
      {"group-writable", copied([](auto& lib) { chmod((lib / "module.so").c_str(), 0664); }),
       "it can be changed by other users (chmod go-w)"},
      {"folder writable by others", copied([](auto& lib) { chmod(lib.c_str(), 0777); }),
       "its folder can be changed by other users (chmod go-w)"},
      {"a pipe", [](auto&, auto& lib) { mkfifo((lib / "module.so").c_str(), 0644); },
       "it is not a regular file"},
      {"not a module",
       [](auto&, auto& lib) {
         test::WriteBytes(lib / "module.so", "#!/bin/sh\n");
         chmod((lib / "module.so").c_str(), 0644);
       },
       "it has no build id"},
      {"of another build",
       patched([](auto& bytes) { bytes.at(bytes.find("loader's test build") + 15) = 'U'; }),
       "it is of another build (build id the loader's test bUild, not the loader's test build)"},
      {"of another machine", patched([](auto& bytes) { bytes[18] = 40; }),  // e_machine: ARM
       "it cannot be loaded ("},
  };
  for (const auto& [name, put, problem] : cases) {
    SCOPED_TRACE(name);
    const test::TempFolder root;
    const fs::path real = root.path() / "real", lib = root.path() / "lib";
    fs::create_directories(real);
    fs::create_directories(lib);
    fs::copy_file(test::kTestModule, real / "module.so");
    chmod((real / "module.so").c_str(), 0644);
    chmod(lib.c_str(), 0755);
    put(real, lib);
    const LoadedModule module = LoadTrustedModule(lib / "module.so", kTestBuild);
    if (*problem == '\0') {
      ASSERT_TRUE(module.loaded()) << module.problem;
      auto* answer = reinterpret_cast<int (*)()>(ModuleSymbol(module, "orv_test_module_answer"));
      ASSERT_NE(answer, nullptr);
      EXPECT_EQ(answer(), 42);
    } else {
      EXPECT_FALSE(module.loaded());
      EXPECT_EQ(module.problem.rfind(problem, 0), 0u) << module.problem;
    }
  }
}

}  // namespace
}  // namespace orv
