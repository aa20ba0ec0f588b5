#pragma once

// What the notifications' tests share: a notification's facts, a script to run, and a local SMTP
// server (Debian's aiosmtpd) that keeps what it receives in a maildir, with msmtp as the sendmail
// interface pointed at it without TLS or authentication.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "notify/notify_message.h"
#include "support/child_process.h"
#include "temp_folder.h"

namespace orv::test {

inline const NotifyMessage kFault{.type = "problem",
                                  .rule = "night",
                                  .condition = "fault-3",
                                  .text = "Fault 3: mains failure",
                                  .seq = 4711,
                                  .since_ms = 1796763802123,
                                  .step = 2,
                                  .instance = {}};

// An executable file of text in folder.
inline std::filesystem::path Script(const TempFolder& folder, const std::string& name,
                                    const std::string& text) {
  const auto path = folder.path() / name;
  WriteBytes(path, text);
  std::filesystem::permissions(path, std::filesystem::perms::owner_all);
  return path;
}

inline constexpr const char* kPython = "/usr/bin/python3";
inline constexpr const char* kMsmtp = "/usr/bin/msmtp";

inline int FreePort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

inline bool Accepts(int port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

class MailServer {
 public:
  // Started in folder; up() says whether it accepts.
  explicit MailServer(std::filesystem::path folder) : folder_(std::move(folder)) {
    // The handler makes the maildir (new, cur and tmp) itself, in a folder that is there.
    std::filesystem::create_directories(folder_);
    server_ = std::make_unique<ChildProcess>(
        kPython,
        std::vector<std::string>{"-m", "aiosmtpd", "-n", "-l", "127.0.0.1:" + std::to_string(port_),
                                 "-c", "aiosmtpd.handlers.Mailbox", Mailbox().string()},
        ChildOptions{.env = {}, .capture_stderr = true});
    for (int i = 0; i < 100 && !Accepts(port_); ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    server_->Drain();
  }
  bool up() const { return std::filesystem::exists(kMsmtp) && Accepts(port_); }
  // Why it is not up, with the packages that make it.
  std::string problem() const {
    return "no SMTP server or no msmtp (apt install msmtp python3-aiosmtpd): " +
           server_->error_output();
  }
  int port() const { return port_; }
  std::filesystem::path Mailbox() const { return folder_ / "mail"; }
  // A wrapper as a site's /usr/sbin/sendmail: msmtp with its own settings, sending to port.
  std::filesystem::path Sendmail(const std::string& name, int port) const {
    const auto conf = folder_ / (name + ".conf");
    WriteBytes(conf, "account default\nhost 127.0.0.1\nport " + std::to_string(port) +
                         "\nauth off\ntls off\nsyslog off\nfrom msmtp@example.org\n");
    std::filesystem::permissions(
        conf, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    const auto wrapper = folder_ / name;
    WriteBytes(wrapper,
               "#!/bin/sh\nexec " + std::string(kMsmtp) + " -C " + conf.string() + " \"$@\"\n");
    std::filesystem::permissions(wrapper, std::filesystem::perms::owner_all);
    return wrapper;
  }
  // The mails received so far, as files.
  std::vector<std::filesystem::path> Mails() const {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(Mailbox() / "new"))
      files.push_back(entry.path());
    return files;
  }
  void Clear() const {
    std::filesystem::remove_all(Mailbox() / "new");
    std::filesystem::create_directories(Mailbox() / "new");
  }

 private:
  std::filesystem::path folder_;
  int port_ = FreePort();
  std::unique_ptr<ChildProcess> server_;
};

}  // namespace orv::test
