#pragma once

// Inside the codec: the journal's messages are read in a file of their own, from the object the
// server message's reader parsed once.
#include <QJsonObject>

#include "attach/attach_protocol.h"

namespace orv::attach_json {

// A "history" message into message (id, page or why); false when it is out of its bounds.
bool ReadHistoryPage(const QJsonObject& object, ServerMessage& message);

}  // namespace orv::attach_json
