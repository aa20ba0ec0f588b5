// The shift's sign-off: the outgoing and the incoming operator each give name and PIN, both
// checked by the program's one gate (off the loop where it has its pool), and the journal gets
// one operator record naming both and the SHA-256 of the report's text. That record is where the
// next report begins. With access levels off the names are recorded as typed, and the record
// says they were not checked.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "access/access_gate.h"

namespace orv {

struct SignOffParty {
  std::string name;
  std::string pin;
};

struct SignOffOutcome {
  bool signed_off = false;
  // The record's text when signed off; else why not, for the dialog's status line.
  std::string text;
};

// "Handover signed: alice to bob, report SHA-256 <hex>"; unchecked: "Handover signed (access
// levels off, names not checked): alice to bob, report SHA-256 <hex>".
std::string HandoverRecordText(std::string_view outgoing, std::string_view incoming,
                               std::string_view sha256, bool checked);

// Checks the outgoing operator's PIN, then the incoming one's, at gate (null: levels off) for
// origin; done is called once, on the loop, with the record to make or why there is none.
void SignOffHandover(AccessGate* gate, const Origin& origin, const SignOffParty& outgoing,
                     const SignOffParty& incoming, const std::string& sha256,
                     const AccessNowFn& now, std::function<void(const SignOffOutcome&)> done);

}  // namespace orv
