#pragma once

// Inside the codec: the journal's messages are read in a file of their own, from the object the
// server message's reader parsed once.
#include <QJsonArray>
#include <QJsonObject>
#include <QJsonValue>
#include <vector>

#include "attach/attach_protocol.h"

namespace orv::attach_json {

// A "history" message into message (id, page or why); false when it is out of its bounds.
bool ReadHistoryPage(const QJsonObject& object, ServerMessage& message);

// The state's lists, conditions and who is logged in, as far as sections asks for them; read
// back, each adds its section, and one out of its bounds makes it false.
void WriteLists(const PanelState& state, unsigned sections, QJsonObject& object);
bool ReadLists(const QJsonObject& object, PanelState& state, unsigned& sections);

}  // namespace orv::attach_json
