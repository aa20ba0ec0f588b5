#pragma once

#include <cstdint>
#include <set>
#include <string>

namespace orv {

// The user id the program acts as (its effective user); 0 where the system has no such notion.
std::uint32_t EffectiveUserId();

// The login name of a user id, or "uid N" when the system does not know it.
std::string UserName(std::uint32_t user_id);

// Every account in group group_id: its listed members and the accounts whose primary group it
// is (empty where the system has no such notion).
std::set<std::string> AccountsInGroup(std::uint32_t group_id);

// This machine's name, or "" when it has none.
std::string HostName();

}  // namespace orv
