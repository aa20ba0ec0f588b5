#pragma once

#include <functional>
#include <string>

#include "events/event_record.h"

namespace orv {

// The site's name of trigger `number` on `page` (0 EMG, 1 business, 2 soft, 3 BGM), as the
// configuration keeps it; empty when there is none.
using TriggerNameFn = std::function<std::string(int page, int number)>;

// What an event says, in words, beside its line (which stays as the controller's codes and bits):
// for a fault report the captions of its set bits ("Mains, Call/EMG"); for a trigger or BGM
// report the page, number and site name of every trigger or channel it sets ("EMG 13 Lobby,
// BUS 13"); for every other code a short sentence.
std::string EventDetail(const EventRecord& record, const TriggerNameFn& name);

}  // namespace orv
