#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "notify/notify_mail.h"
#include "notify_fixtures.h"
#include "support/child_process.h"
#include "temp_folder.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;
using test::kFault;
using test::ReadBytes;
using test::TempFolder;
using test::WriteBytes;

std::string ThisHost() {
  char name[256] = {};
  gethostname(name, sizeof name - 1);
  return name;
}

// A mail as Python's e-mail package reads it: each header decoded, the body's lines, and how
// many defects it found.
struct Received {
  std::multimap<std::string, std::string> headers;
  std::vector<std::string> body;
  std::string raw;
  int defects = -1;
  int broken_words = -1;
  long date_off_by_s = -1;
};

constexpr const char* kReader = R"(
import base64, re, sys, time, email, email.policy, email.utils
raw = open(sys.argv[1], "rb").read()
msg = email.message_from_bytes(raw, policy=email.policy.default)
for name, value in msg.items():
    print("H\t" + name + "\t" + str(value).replace("\n", "\\n"))
print("F\t%d" % (len(msg.defects) + sum(len(v.defects) for v in msg.values())))
print("D\t%d" % abs(email.utils.parsedate_to_datetime(msg["Date"]).timestamp() - time.time()))
# Each encoded word whole on its own, of at most 75 characters.
broken = 0
for word in re.findall(rb"=[?]UTF-8[?]B[?]([A-Za-z0-9+/=]*)[?]=", raw.split(b"\n\n")[0]):
    try:
        base64.b64decode(word).decode("utf-8")
    except UnicodeDecodeError:
        broken += 1
    broken += len(word) + 12 > 75
print("W\t%d" % broken)
for line in msg.get_content().splitlines():
    print("B\t" + line)
)";

class NotifyMail : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = std::make_unique<TempFolder>();
    mail_ = std::make_unique<test::MailServer>(folder_->path());
    ASSERT_TRUE(mail_->up()) << mail_->problem();
    sendmail_ = mail_->Sendmail("up", mail_->port());
  }
  static void TearDownTestSuite() {
    mail_.reset();
    folder_.reset();
  }
  void SetUp() override {
    // Said again for each test: none passes without the server.
    ASSERT_TRUE(mail_ && mail_->up()) << "no SMTP server or no msmtp: apt install msmtp "
                                         "python3-aiosmtpd";
    mail_->Clear();
  }

  static std::filesystem::path Sendmail(const std::string& name, int port) {
    return mail_->Sendmail(name, port);
  }

  // The one mail received.
  static Received TheMail() {
    const std::vector<std::filesystem::path> files = mail_->Mails();
    EXPECT_EQ(files.size(), 1u);
    Received mail;
    if (files.size() != 1) return mail;
    mail.raw = ReadBytes(files[0]);
    ChildProcess reader(test::kPython, {"-I", "-c", kReader, files[0].string()});
    EXPECT_EQ(reader.WaitForExit(), 0);
    std::istringstream lines(reader.output());
    for (std::string line; std::getline(lines, line);) {
      const std::string kind = line.substr(0, 1), rest = line.substr(2);
      if (kind == "H")
        mail.headers.emplace(rest.substr(0, rest.find('\t')), rest.substr(rest.find('\t') + 1));
      if (kind == "B") mail.body.push_back(rest);
      if (kind == "F") mail.defects = std::stoi(rest);
      if (kind == "W") mail.broken_words = std::stoi(rest);
      if (kind == "D") mail.date_off_by_s = std::stol(rest);
    }
    return mail;
  }

  static inline std::unique_ptr<TempFolder> folder_;
  static inline std::unique_ptr<test::MailServer> mail_;
  static inline std::filesystem::path sendmail_;
};

TEST_F(NotifyMail, TheServerReceivesItForTheRecipientWithTheFacts) {
  const NotifyResult result =
      SendNotifyMail(sendmail_, "panel@example.org", "ops@example.org", kFault);
  EXPECT_TRUE(result.ok) << result.answer;
  EXPECT_EQ(result.answer, "exit 0");
  const Received mail = TheMail();
  const std::multimap<std::string, std::string> expected{
      {"From", "panel@example.org"},
      {"To", "ops@example.org"},
      {"Subject", "[Orvandel] problem: Fault 3: mains failure"},
      {"Date", mail.headers.count("Date") ? mail.headers.find("Date")->second : "missing"},
      {"Message-ID", "<orvandel.problem.2.4711.night.fault-3@" + ThisHost() + ">"},
      {"MIME-Version", "1.0"},
      {"Content-Type", "text/plain; charset=\"UTF-8\""},
      {"Content-Transfer-Encoding", "8bit"},
      {"X-Peer", mail.headers.count("X-Peer") ? mail.headers.find("X-Peer")->second : "missing"},
      {"X-MailFrom", "panel@example.org"},
      {"X-RcptTo", "ops@example.org"}};
  EXPECT_EQ(mail.headers, expected);
  EXPECT_EQ(mail.defects, 0);
  EXPECT_LE(mail.date_off_by_s, 60);
  const std::vector<std::string> body{"Type: problem",
                                      "Rule: night",
                                      "Condition: fault-3",
                                      "Text: Fault 3: mains failure",
                                      "Since: 2026-12-08T21:03:22Z",
                                      "Step: 2",
                                      "Seq: 4711"};
  EXPECT_EQ(mail.body, body);
}

// Whatever a rule, a condition or a text holds stays in its header or line: no header, no
// recipient is added, and non-ASCII reaches the reader as it was.
TEST_F(NotifyMail, NoFactMakesAHeaderOrARecipient) {
  struct Case {
    NotifyMessage msg;
    std::string subject;
    std::string message_id;
  };
  const std::string host = ThisHost();
  const Case cases[] = {
      {{.type = "problem",
        .rule = "r",
        .condition = "c",
        .text = "x\r\nBcc: victim@example.org\r\nX-Evil: 1\n\nbody",
        .seq = 1,
        .since_ms = 0,
        .step = 0,
        .instance = {}},
       "[Orvandel] problem: x  Bcc: victim@example.org  X-Evil: 1  body",
       "<orvandel.problem.0.1.r.c@" + host + ">"},
      {{.type = "done\nBcc: victim@example.org",
        .rule = "a>b\r\nCc: victim@example.org",
        .condition = "",
        .text = "t",
        .seq = 7,
        .since_ms = 0,
        .step = 1,
        .instance = {}},
       "[Orvandel] done Bcc: victim@example.org: t",
       "<orvandel.done=0ABcc=3A=20victim=40example=2Eorg.1.7.a=3Eb=0D=0ACc=3A=20victim=40example="
       "2Eorg._@" +
           host + ">"},
      {{.type = "problem",
        .rule = "nacht",
        .condition = "alarm-1",
        .text = "Störung Brandmeldern 7 — Rauchmelder in Halle 3 ausgelöst, bitte prüfen",
        .seq = 2,
        .since_ms = 0,
        .step = 0,
        .instance = {}},
       // The dash lies across the first encoded word's end.
       "[Orvandel] problem: Störung Brandmeldern 7 — Rauchmelder in Halle 3 ausgelöst, bitte "
       "prüfen",
       "<orvandel.problem.0.2.nacht.alarm-1@" + host + ">"},
      // Of several controllers, whose: two instances never give one message the same id.
      {{.type = "problem",
        .rule = "r",
        .condition = "c",
        .text = "t",
        .seq = 1,
        .since_ms = 0,
        .step = 0,
        .instance = "hall-2"},
       "[Orvandel hall-2] problem: t",
       "<orvandel.problem.0.1.r.c.hall-2@" + host + ">"},
  };
  for (const Case& c : cases) {
    SetUp();
    const NotifyResult result = SendNotifyMail(sendmail_, "", "ops@example.org", c.msg);
    ASSERT_TRUE(result.ok) << result.answer;
    const Received mail = TheMail();
    EXPECT_EQ(mail.headers.count("Bcc") + mail.headers.count("Cc") + mail.headers.count("X-Evil"),
              0u)
        << c.subject;
    const auto one = [&mail](const std::string& name) {
      return mail.headers.count(name) == 1 ? mail.headers.find(name)->second : "not once";
    };
    EXPECT_EQ(one("X-RcptTo"), "ops@example.org");
    EXPECT_EQ(one("Subject"), c.subject);
    EXPECT_EQ(one("Message-ID"), c.message_id);
    EXPECT_EQ(one("From"), "orvandel@" + host);
    EXPECT_EQ(mail.defects, 0) << c.subject;
    EXPECT_EQ(mail.broken_words, 0) << mail.raw;
    const std::string head = mail.raw.substr(0, mail.raw.find("\n\n"));
    EXPECT_TRUE(std::all_of(head.begin(), head.end(), [](char b) { return b > 0 && b < 0x7F; }))
        << head;
  }
}

TEST_F(NotifyMail, AServerThatIsDownIsAFailureInMsmtpsWords) {
  const int port = test::FreePort();
  const NotifyResult result = SendNotifyMail(Sendmail("down", port), "", "ops@example.org", kFault);
  EXPECT_FALSE(result.ok);
  EXPECT_EQ(result.answer, "exit 75: msmtp: cannot connect to 127.0.0.1, port " +
                               std::to_string(port) + ": Connection refused");
}

TEST(NotifyMailAddress, OnlyPlainAddressesAreTaken) {
  const std::pair<std::string, bool> cases[] = {
      {"ops@example.org", true},
      {"first.last+night_1%x@sub.example-site.org", true},
      {"root@localhost", true},
      {"", false},
      {"ops", false},
      {"@example.org", false},
      {"ops@", false},
      {"-oQ/tmp/x@example.org", false},
      {"-oi@example.org", false},
      {".ops@example.org", false},
      {"ops.@example.org", false},
      {"o..ps@example.org", false},
      {"o ps@example.org", false},
      {"ops@exa mple.org", false},
      {"ops@example.org\r\nBcc: x@example.org", false},
      {"ops@example.org,x@example.org", false},
      {"ops@a@example.org", false},
      {"|/bin/sh@example.org", false},
      {"\"ops\"@example.org", false},
      {"ops@-example.org", false},
      {"ops@example-.org", false},
      {"ops@example..org", false},
      {"ops@example.org.", false},
      {std::string(64, 'a') + "@example.org", true},
      {std::string(65, 'a') + "@example.org", false},
      {"a@" + std::string(63, 'b') + ".org", true},
      {"a@" + std::string(64, 'b') + ".org", false},
      {"a@" + std::string(63, 'b') + "." + std::string(63, 'c') + "." + std::string(63, 'd') + "." +
           std::string(60, 'e'),
       true},
      {"a@" + std::string(63, 'b') + "." + std::string(63, 'c') + "." + std::string(63, 'd') + "." +
           std::string(61, 'e'),
       false},
  };
  for (const auto& [address, plain] : cases)
    EXPECT_EQ(IsPlainMailAddress(address), plain) << address;
}

// An address that is not plain never reaches a program.
TEST(NotifyMailAddress, ANotPlainAddressIsRefusedWithoutStartingSendmail) {
  TempFolder folder;
  const auto started = folder.path() / "started";
  const auto sendmail = folder.path() / "sendmail";
  WriteBytes(sendmail, "#!/bin/sh\ntouch " + started.string() + "\n");
  std::filesystem::permissions(sendmail, std::filesystem::perms::owner_all);
  const std::pair<std::string, std::string> cases[] = {{"", "-oQ/tmp/x@example.org"},
                                                       {"-f@example.org", "ops@example.org"}};
  for (const auto& [from, to] : cases) {
    const NotifyResult result = SendNotifyMail(sendmail, from, to, kFault);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.answer.substr(0, 9), "refused: ") << result.answer;
  }
  EXPECT_FALSE(std::filesystem::exists(started));
}

}  // namespace
}  // namespace orv
