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

// The state's conditions; without names, who acknowledged or shelved each is left out (an
// anonymous web viewer's).
QJsonArray ConditionsJson(const std::vector<Condition>& conditions, bool with_names = true);
// False, and conditions untouched, when one is out of its bounds or not of its type.
bool ReadConditions(const QJsonValue& value, std::vector<Condition>& conditions);

}  // namespace orv::attach_json
