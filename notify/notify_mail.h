#pragma once

// A notification as mail, handed to the system's sendmail interface (any MTA: msmtp-mta, exim,
// postfix), the recipient on its command line so that nothing in a message can add one.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "notify/notify_message.h"

namespace orv {

// Whether address is plainly local@domain: letters, digits and ._%+- before the '@' (not
// starting with '-' or '.'), a host name after it, at most 254 bytes.
bool IsPlainMailAddress(std::string_view address);

// The whole message as sendmail takes it on its input (lines ending in LF): From (from, or
// orvandel@host when empty), To, Subject, Date (now), a Message-ID made of the type, step,
// sequence number, rule and condition at host, so that the same notification twice has the same
// one, MIME headers for UTF-8 text, and the facts in the body.
std::string NotifyMailMessage(const std::string& from, const std::string& to,
                              const NotifyMessage& msg, const std::string& host,
                              std::int64_t now_utc_ms);

// Hands the message to sendmail (`sendmail -oi [-f FROM] -- TO`) and waits for it, at most
// limit: then its process group is killed. ok when it exits 0; the answer is its exit status and
// the first line it said. An address that is not plain is refused without starting anything.
NotifyResult SendNotifyMail(const std::filesystem::path& sendmail, const std::string& from,
                            const std::string& to, const NotifyMessage& msg,
                            std::chrono::milliseconds limit = std::chrono::seconds(10),
                            const std::atomic<bool>* stop = nullptr);

}  // namespace orv
