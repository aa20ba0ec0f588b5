#include "mqtt/mqtt_feed.h"

namespace orv {

MqttFeed::MqttFeed(MainForm& form, MqttPublisher& publisher) : form_(form), publisher_(publisher) {
  if (Journal* journal = form_.journal()) {
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
    connections_.push_back(form_.recorded().Connect(
        [this](const JournalEntry& entry) { publisher_.OnRecorded(entry); }));
  }
  publisher_.SetLinkState(LinkState::kDisconnected);
  connections_.push_back(form_.link().connection_changed().Connect([this](bool connected) {
    // The window darkens its lamps on a disconnect; so do the published ones.
    if (!connected) lamps_.reset();
    SetLinkState(WatchedLinkState());
  }));
  connections_.push_back(
      form_.link().fault_lamps_changed().Connect([this](FaultLamps lamps) { lamps_ = lamps; }));
  publisher_.SetFaultLamps(lamps_);
  connections_.push_back(
      form_.annunciation().changed().Connect([this](const AnnunciationView&) { Annunciate(); }));
  Annunciate();
}

void MqttFeed::Annunciate() {
  const AnnunciationView now = form_.annunciation().view();
  publisher_.SetAnnunciation(
      AnnunciationJson(ToneName(now.state.tone), now.since,
                       now.state.tone == Tone::kNone ? "" : now.state.condition));
}

LinkState MqttFeed::WatchedLinkState() const {
  switch (form_.link().watch().state()) {
    case LinkWatch::State::kDisconnected:
      return LinkState::kDisconnected;
    case LinkWatch::State::kLost:
      return LinkState::kNoReply;
    case LinkWatch::State::kWaiting:  // the time without a reply is not up yet
    case LinkWatch::State::kAnswering:
      break;
  }
  return LinkState::kAnswering;
}

void MqttFeed::Tick() {
  // The watch decides in its tick; the publisher sends only a change.
  SetLinkState(WatchedLinkState());
  publisher_.SetFaultLamps(lamps_);
  for (int page = 0; page < MqttPublisher::kPublishedPages; ++page) {
    publisher_.SetTriggerStates(page, form_.link().trigger_states().States(page));
    publisher_.SetTriggerNames(page, form_.config().Names(page));
  }
}

}  // namespace orv
