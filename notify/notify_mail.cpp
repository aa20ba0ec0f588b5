#include "notify/notify_mail.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "notify/bounded_run.h"
#include "notify/notify_text.h"

namespace orv {

namespace {

bool IsAsciiAlnum(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
}

bool IsHostName(std::string_view host) {
  if (host.empty() || host.size() > 253) return false;
  for (std::size_t begin = 0; begin <= host.size();) {
    const std::size_t dot = std::min(host.find('.', begin), host.size());
    const std::string_view label = host.substr(begin, dot - begin);
    if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-' ||
        !std::all_of(label.begin(), label.end(),
                     [](char c) { return IsAsciiAlnum(c) || c == '-'; }))
      return false;
    begin = dot + 1;
  }
  return true;
}

std::string ThisHost() {
  char name[256] = {};
  const bool named = gethostname(name, sizeof name - 1) == 0;
  return named && IsHostName(name) ? name : "localhost";
}

std::string MailDate(std::int64_t utc_ms) {
  using namespace std::chrono;
  static constexpr const char* kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
  static constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                            "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
  const sys_time<milliseconds> at{milliseconds(utc_ms)};
  const sys_days day = floor<days>(at);
  const year_month_day date{day};
  const hh_mm_ss time{floor<seconds>(at - day)};
  char text[48];
  std::snprintf(text, sizeof text, "%s, %02u %s %04d %02d:%02d:%02d +0000",
                kDays[weekday(day).c_encoding()], unsigned(date.day()),
                kMonths[unsigned(date.month()) - 1], int(date.year()), int(time.hours().count()),
                int(time.minutes().count()), int(time.seconds().count()));
  return text;
}

// One part of a Message-ID: letters, digits and '-' as they are, every other byte as =XX, and
// '_' for nothing, so that different facts never make the same part.
std::string IdPart(std::string_view text) {
  if (text.empty()) return "_";
  std::string part;
  for (const char c : text.substr(0, 100)) {
    char hex[4];
    std::snprintf(hex, sizeof hex, "=%02X", static_cast<unsigned char>(c));
    part += IsAsciiAlnum(c) || c == '-' ? std::string(1, c) : hex;
  }
  return part;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    unsigned group = 0;
    for (std::size_t k = 0; k < 3; ++k)
      group = group << 8 | (k < n ? static_cast<unsigned char>(bytes[i + k]) : 0u);
    for (std::size_t k = 0; k < 4; ++k)
      text += k <= n ? kDigits[(group >> (18 - 6 * k)) & 0x3F] : '=';
  }
  return text;
}

// A header's value as it is when it is printable ASCII, otherwise as RFC 2047 encoded words of
// whole characters, one per folded line.
std::string HeaderText(const std::string& line) {
  const bool plain =
      std::all_of(line.begin(), line.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
  if (plain) return line;
  std::string words;
  for (std::size_t begin = 0; begin < line.size();) {
    // 45 bytes make 60 of Base64: a word of 72, under the 75 allowed.
    std::size_t end = std::min(begin + 45, line.size());
    while (end < line.size() && (static_cast<unsigned char>(line[end]) & 0xC0) == 0x80)
      --end;
    words += (words.empty() ? "" : "\n ") + std::string("=?UTF-8?B?") +
             Base64(std::string_view(line).substr(begin, end - begin)) + "?=";
    begin = end;
  }
  return words;
}

}  // namespace

bool IsPlainMailAddress(std::string_view address) {
  const std::size_t at = address.find('@');
  if (address.size() > 254 || at == std::string_view::npos || at == 0 || at > 64) return false;
  const std::string_view local = address.substr(0, at);
  const bool local_plain = std::all_of(local.begin(), local.end(), [](char c) {
    return IsAsciiAlnum(c) || std::string_view("._%+-").find(c) != std::string_view::npos;
  });
  return local_plain && local.front() != '-' && local.front() != '.' && local.back() != '.' &&
         local.find("..") == std::string_view::npos && IsHostName(address.substr(at + 1));
}

std::string NotifyMailMessage(const std::string& from, const std::string& to,
                              const NotifyMessage& msg, const std::string& host,
                              std::int64_t now_utc_ms) {
  const std::string type = OneLine(msg.type, 40);
  const std::string text = OneLine(msg.text, 900);
  const std::string id = IdPart(msg.type) + "." + std::to_string(msg.step) + "." +
                         std::to_string(msg.seq) + "." + IdPart(msg.rule) + "." +
                         IdPart(msg.condition) +
                         (msg.instance.empty() ? "" : "." + IdPart(msg.instance)) + "@" +
                         (IsHostName(host) ? host : "localhost");
  std::string mail;
  mail += "From: " + (from.empty() ? "orvandel@" + (IsHostName(host) ? host : "localhost") : from);
  mail += "\nTo: " + to;
  // Of several controllers, the subject says whose: the mail is read in one box for all.
  const std::string tag =
      msg.instance.empty() ? "[Orvandel] " : "[Orvandel " + OneLine(msg.instance, 40) + "] ";
  mail += "\nSubject: " + HeaderText(tag + type + ": " + OneLine(msg.text, 300));
  mail += "\nDate: " + MailDate(now_utc_ms);
  mail += "\nMessage-ID: <orvandel." + id + ">";
  mail += "\nMIME-Version: 1.0";
  mail += "\nContent-Type: text/plain; charset=UTF-8";
  mail += "\nContent-Transfer-Encoding: 8bit";
  mail += "\n\nType: " + type;
  if (!msg.instance.empty()) mail += "\nInstance: " + OneLine(msg.instance, 40);
  mail += "\nRule: " + OneLine(msg.rule, 200);
  mail += "\nCondition: " + OneLine(msg.condition, 200);
  mail += "\nText: " + text;
  mail += "\nSince: " + IsoUtc(msg.since_ms);
  mail += "\nStep: " + std::to_string(msg.step);
  mail += "\nSeq: " + std::to_string(msg.seq) + "\n";
  return mail;
}

NotifyResult SendNotifyMail(const std::filesystem::path& sendmail, const std::string& from,
                            const std::string& to, const NotifyMessage& msg,
                            std::chrono::milliseconds limit, const std::atomic<bool>* stop) {
  if (!IsPlainMailAddress(to)) return {false, "refused: not a plain address: " + OneLine(to, 100)};
  if (!from.empty() && !IsPlainMailAddress(from))
    return {false, "refused: not a plain sender address: " + OneLine(from, 100)};
  if (!sendmail.is_absolute())
    return {false, "refused: sendmail is not an absolute path: " + OneLine(sendmail.string(), 200)};
  // -oi: a line of a single dot is text, not the end.
  std::vector<std::string> args{"-oi"};
  if (!from.empty()) args.insert(args.end(), {"-f", from});
  args.insert(args.end(), {"--", to});
  using namespace std::chrono;
  const auto now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  const BoundedRunEnd end =
      RunBounded({.program = sendmail,
                  .args = args,
                  .env = {"PATH=/usr/sbin:/usr/bin:/sbin:/bin", "LANG=C.UTF-8"},
                  .input = NotifyMailMessage(from, to, msg, ThisHost(), now),
                  .limit = limit,
                  .stop = stop});
  return {end.how == BoundedRunEnd::How::kExited && end.code == 0, AnswerOf(end, limit)};
}

}  // namespace orv
