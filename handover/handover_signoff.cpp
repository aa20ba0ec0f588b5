#include "handover/handover_signoff.h"

#include <memory>
#include <utility>

#include "handover/handover_report.h"

namespace orv {
namespace {

// Names as typed are kept as the gate keeps a name tried (NameTried): one line, bounded,
// escaped, so that no record can be made to look like two or grow without end; with levels off
// nothing else checks them.
// Never which of name and PIN was wrong: nobody learns from it which names exist.
std::string Refusal(const SignOffParty& party, const LogInResult& result) {
  std::string why = result.outcome == LogInOutcome::kBusy
                        ? std::string("busy, try again")
                        : "name or PIN not accepted for " + NameTried(party.name);
  if (result.wait > std::chrono::seconds::zero())
    why += ", wait " + std::to_string(result.wait.count()) + " s";
  return "not signed off: " + why;
}

}  // namespace

std::string HandoverRecordText(std::string_view outgoing, std::string_view incoming,
                               std::string_view sha256, bool checked) {
  return std::string(kHandoverRecordPrefix) +
         (checked ? ": " : " (access levels off, names not checked): ") + NameTried(outgoing) +
         " to " + NameTried(incoming) + ", report SHA-256 " + std::string(sha256);
}

void SignOffHandover(AccessGate* gate, const Origin& origin, const SignOffParty& outgoing,
                     const SignOffParty& incoming, const std::string& sha256,
                     const AccessNowFn& now, std::function<void(const SignOffOutcome&)> done) {
  if (outgoing.name.empty() || incoming.name.empty()) {
    done({false, "not signed off: both operators give their names"});
    return;
  }
  if (outgoing.name == incoming.name) {
    done({false, "not signed off: the outgoing and the incoming operator are two people"});
    return;
  }
  if (gate == nullptr || gate->mode() == AccessMode::kOff) {
    done({true, HandoverRecordText(outgoing.name, incoming.name, sha256, false)});
    return;
  }
  // The second check begins once the first has passed: one check at a time per origin.
  gate->CheckPin(
      origin, outgoing.name, outgoing.pin, now,
      [gate, origin, outgoing, incoming, sha256, now,
       done = std::move(done)](const LogInResult& first) {
        if (first.outcome != LogInOutcome::kOk) {
          done({false, Refusal(outgoing, first)});
          return;
        }
        gate->CheckPin(
            origin, incoming.name, incoming.pin, now,
            [outgoing, incoming, sha256, done](const LogInResult& second) {
              if (second.outcome != LogInOutcome::kOk) {
                done({false, Refusal(incoming, second)});
                return;
              }
              done({true, HandoverRecordText(outgoing.name, incoming.name, sha256, true)});
            });
      });
}

}  // namespace orv
