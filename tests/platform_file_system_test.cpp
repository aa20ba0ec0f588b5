#include <gtest/gtest.h>

#include <filesystem>

#include "platform/file_system.h"
#include "tests/temp_folder.h"

namespace orv {
namespace {

using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

class FileSystemTest : public ::testing::Test {
 protected:
  std::filesystem::path Path(const char* name) const { return folder_.path() / name; }
  TempFolder folder_;
};

TEST_F(FileSystemTest, EntryExistsForFilesAndFoldersAlike) {
  WriteBytes(Path("file"), "x");
  std::filesystem::create_directory(Path("folder"));
  std::filesystem::create_symlink(Path("nowhere"), Path("dangling"));
  EXPECT_TRUE(EntryExists(Path("file")));
  EXPECT_TRUE(EntryExists(Path("folder")));
  EXPECT_TRUE(EntryExists(Path("dangling")));
  EXPECT_FALSE(EntryExists(Path("missing")));
  EXPECT_FALSE(EntryExists(Path("file") / "below"));
}

TEST_F(FileSystemTest, CreateFolderMakesOneLevel) {
  EXPECT_TRUE(CreateFolder(Path("a")));
  EXPECT_TRUE(std::filesystem::is_directory(Path("a")));
  EXPECT_FALSE(CreateFolder(Path("a")));  // already there
  EXPECT_FALSE(CreateFolder(Path("b") / "c"));
  EXPECT_FALSE(std::filesystem::exists(Path("b")));
  WriteBytes(Path("file"), "x");
  EXPECT_FALSE(CreateFolder(Path("file")));
}

TEST_F(FileSystemTest, DeleteFileDeletesFilesOnly) {
  WriteBytes(Path("file"), "x");
  std::filesystem::create_directory(Path("folder"));
  EXPECT_TRUE(DeleteFile(Path("file")));
  EXPECT_FALSE(std::filesystem::exists(Path("file")));
  EXPECT_FALSE(DeleteFile(Path("file")));
  EXPECT_FALSE(DeleteFile(Path("folder")));
  EXPECT_TRUE(std::filesystem::is_directory(Path("folder")));
}

TEST_F(FileSystemTest, AppendCreatesThenAppends) {
  EXPECT_TRUE(AppendToFile(Path("log"), "first\r\n"));
  EXPECT_TRUE(AppendToFile(Path("log"), std::string_view("sec\0nd\r\n", 8)));
  EXPECT_EQ(ReadBytes(Path("log")), std::string("first\r\nsec\0nd\r\n", 15));
}

TEST_F(FileSystemTest, AppendFailsWithoutFolderOrOnAFolder) {
  EXPECT_FALSE(AppendToFile(Path("missing") / "log", "x"));
  EXPECT_FALSE(std::filesystem::exists(Path("missing")));
  std::filesystem::create_directory(Path("folder"));
  EXPECT_FALSE(AppendToFile(Path("folder"), "x"));
  EXPECT_TRUE(std::filesystem::is_directory(Path("folder")));
}

}  // namespace
}  // namespace orv
