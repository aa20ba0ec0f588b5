#pragma once

#include <cstdint>
#include <string>

namespace orv {

// Who may attach to the service: root, the service's own user, and the members of its
// operators' group (as primary or supplementary group). Empty when the user may; otherwise the
// refusal as the window shows it.
std::string PeerRefusal(std::uint32_t uid, std::uint32_t service_uid, const std::string& group);

}  // namespace orv
