#pragma once

#include <sys/mount.h>

#include <filesystem>
#include <string>
#include <system_error>

namespace orv::test {

// A tiny tmpfs mounted on a folder for one test: a disk that really fills up and can really be
// made read-only, for root too. Mounting needs root; ok() says whether it worked.
class SmallDisk {
 public:
  SmallDisk(const std::filesystem::path& folder, std::size_t bytes) : folder_(folder) {
    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    const std::string options = "size=" + std::to_string(bytes) + ",mode=0755";
    ok_ = mount("tmpfs", folder_.c_str(), "tmpfs", 0, options.c_str()) == 0;
  }
  ~SmallDisk() {
    if (ok_) umount2(folder_.c_str(), MNT_DETACH);
  }
  SmallDisk(const SmallDisk&) = delete;
  SmallDisk& operator=(const SmallDisk&) = delete;

  bool ok() const { return ok_; }
  bool SetReadOnly(bool read_only) {
    const unsigned long flags =
        MS_REMOUNT | (read_only ? static_cast<unsigned long>(MS_RDONLY) : 0UL);
    return mount(nullptr, folder_.c_str(), nullptr, flags, nullptr) == 0;
  }

 private:
  std::filesystem::path folder_;
  bool ok_ = false;
};

}  // namespace orv::test
