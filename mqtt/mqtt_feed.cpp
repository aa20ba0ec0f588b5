#include "mqtt/mqtt_feed.h"

namespace orv {
namespace {

LinkState PublishedLinkState(LinkCondition condition) {
  switch (condition) {
    case LinkCondition::kDisconnected:
      return LinkState::kDisconnected;
    case LinkCondition::kNoReply:
      return LinkState::kNoReply;
    case LinkCondition::kAnswering:
      break;
  }
  return LinkState::kAnswering;
}

}  // namespace

MqttFeed::MqttFeed(PanelStateStore& state, Journal* journal, Signal<const JournalEntry&>& recorded,
                   MqttPublisher& publisher)
    : state_(state), publisher_(publisher) {
  if (journal != nullptr) {
    // A journal that cannot be read yet has nothing older to skip.
    std::int64_t last = 0;
    ReadJournalLastSequence(journal->file(), last);
    publisher_.UseJournal(
        [file = journal->file()](std::int64_t from, std::size_t limit,
                                 std::vector<JournalRow>& rows) {
          return ReadJournalFile(file, from, limit, rows).ok();
        },
        last);
    connections_.push_back(journal->committed().Connect(
        [this](std::int64_t sequence) { publisher_.OnCommitted(sequence); }));
  } else {
    connections_.push_back(
        recorded.Connect([this](const JournalEntry& entry) { publisher_.OnRecorded(entry); }));
  }
  connections_.push_back(
      state_.changed().Connect([this](unsigned sections, std::uint64_t) { pending_ |= sections; }));
  Render(kAllSections);
}

void MqttFeed::Render(unsigned sections) {
  const PanelState& state = state_.state();
  if (sections & (kSectionLine | kSectionConnection))
    publisher_.SetLinkState(PublishedLinkState(state.link));
  if (sections & kSectionLamps) {
    FaultLamps lamps;
    for (int i = 0; i < kSystemLamps; ++i)
      lamps[static_cast<std::size_t>(i)] = state.lamps[static_cast<std::size_t>(i)];
    publisher_.SetFaultLamps(lamps);
  }
  for (int page = 0; page < MqttPublisher::kPublishedPages; ++page) {
    if (!(sections & PageSection(page))) continue;
    const TriggerPageState& shown = state.pages[static_cast<std::size_t>(page)];
    TriggerStateTable states(static_cast<std::int16_t>(shown.states.size()));
    for (std::size_t n = 1; n <= shown.states.size(); ++n)
      states.Set(static_cast<int>(n), shown.states[n - 1]);
    publisher_.SetTriggerStates(page, states);
    publisher_.SetTriggerNames(page, shown.names);
  }
  if (sections & kSectionAnnunciation) {
    publisher_.SetAnnunciation(AnnunciationJson(
        state.sounding, state.sounding_since,
        state.sounding == "none" ? "" : state.sounding_condition, state.lamp_test));
  }
  if (sections & kSectionConditions) publisher_.SetConditions(ConditionsJson(state.conditions));
}

void MqttFeed::Tick() {
  Render(std::exchange(pending_, 0U));
}

}  // namespace orv
