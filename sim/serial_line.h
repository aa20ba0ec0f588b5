#pragma once

#include <memory>
#include <string>

#include "platform/line_settings.h"

namespace orv::sim {

// The simulator's end of the line: a pseudo-terminal published under a link path, or a real
// serial device. Non-blocking. Closing it (destruction) removes the link.
class SerialLine {
 public:
  // On failure these return null and say why in error.
  static std::unique_ptr<SerialLine> OpenPty(const std::string& link_path, const LineSettings& line,
                                             std::string& error);
  static std::unique_ptr<SerialLine> OpenDevice(const std::string& path, const LineSettings& line,
                                                std::string& error);
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  int fd() const { return fd_; }
  const std::string& description() const { return description_; }
  // Throws away what the far end has not taken; used when the line is full because nobody reads.
  void DiscardUnread();

 private:
  SerialLine() = default;

  int fd_ = -1;
  // The pty's slave side stays open here too, so the master reads no hang-up while the panel
  // program closes and reopens the port.
  int slave_fd_ = -1;
  std::string link_path_;
  std::string slave_name_;
  std::string description_;
};

}  // namespace orv::sim
