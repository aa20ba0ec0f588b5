#include "attach/attach_hub.h"

#include <algorithm>

namespace orv {

bool AttachHub::Send(Client& client, const std::string& message) const {
  if (client.queued() + message.size() > limits_.max_queue_bytes) return false;
  client.write(message);
  return true;
}

std::string AttachHub::Refusal(const std::string& user) const {
  // The user's own bound first: it is what that user can change.
  const auto own = static_cast<std::size_t>(
      std::count_if(clients_.begin(), clients_.end(),
                    [&](const auto& entry) { return entry.second.user == user; }));
  if (own >= limits_.max_clients_per_user) {
    return "user " + user + " has " + std::to_string(own) +
           " windows attached, the most one user may";
  }
  if (clients_.size() >= limits_.max_clients) {
    return "the service has " + std::to_string(limits_.max_clients) +
           " windows attached, as many as it takes";
  }
  return {};
}

int AttachHub::Attach(std::string user, WriteFn write, QueuedFn queued) {
  if (const std::string refusal = Refusal(user); !refusal.empty()) {
    write(RefusedMessage(refusal));
    return 0;
  }
  const int id = next_id_++;
  Client& client = clients_
                       .emplace(id, Client{std::move(user), std::move(write), std::move(queued),
                                           LineReader(limits_.max_request_bytes)})
                       .first->second;
  client.write(SnapshotMessage(stream_.seq(), stream_.state()));
  return id;
}

bool AttachHub::Received(int id, std::string_view bytes) {
  const auto found = clients_.find(id);
  if (found == clients_.end()) return false;
  Client& client = found->second;
  if (!client.reader.Append(bytes)) return false;
  bool answered = false;
  for (std::string line; client.reader.Next(line);) {
    HistoryRequest request;
    std::string error;
    if (ParseHistoryRequest(line, request, error)) {
      if (!Send(client, History(client, request, answered))) return false;
      continue;
    }
    if (!error.empty()) {
      if (!Send(client, HistoryErrorMessage(request.id, "refused: " + error))) return false;
      continue;
    }
    ActionRequest action;
    const bool parsed = ParseActionMessage(line, action, error);
    if (parsed && later_ &&
        later_(action, client.user,
               [this, alive = std::weak_ptr<char>(alive_), id,
                action_id = action.id](const std::string& result) {
                 if (alive.lock()) Answer(id, action_id, result);
               })) {
      if (clients_.count(id) == 0) return false;
      continue;
    }
    const std::string result = parsed ? perform_(action, client.user) : "refused: " + error;
    // The action may have ended the service's run; the window may be gone with it.
    if (clients_.count(id) == 0 || !Send(client, ResultMessage(action.id, result))) return false;
  }
  return true;
}

void AttachHub::Answer(int id, std::int64_t action_id, const std::string& result) {
  // A window gone meanwhile is not answered; one too far behind is dropped by the next tick.
  const auto found = clients_.find(id);
  if (found != clients_.end()) Send(found->second, ResultMessage(action_id, result));
}

std::string AttachHub::History(Client& client, const HistoryRequest& request, bool& answered) {
  if (answered || client.queued() > limits_.max_queue_bytes / 2)
    return HistoryErrorMessage(request.id, kResultHistoryBusy);
  answered = true;
  if (!history_) return HistoryErrorMessage(request.id, "the service keeps no journal");
  JournalPageQuery query = request.query;
  query.limit = std::min(query.limit, limits_.max_history_rows);
  std::string error;
  JournalPage page = history_(query, client.user, error);
  if (!error.empty()) return HistoryErrorMessage(request.id, error);
  return HistoryPageMessage(request.id, query.newer, std::move(page), limits_.max_history_bytes);
}

std::string StateStream::Tick(const PanelState& state) {
  std::string message;
  if (const unsigned changed = ChangedSections(state_, state)) {
    state_ = state;
    message = ChangeMessage(++seq_, state_, changed);
  }
  if (--ticks_to_heartbeat_ <= 0) {
    message += HeartbeatMessage(seq_);
    ticks_to_heartbeat_ = kHeartbeatTicks;
  }
  return message;
}

std::vector<int> AttachHub::Tick(const PanelState& state) {
  std::string message = stream_.Tick(state);
  if (journal_seq_ != journal_told_) {
    journal_told_ = journal_seq_;
    message += JournalMessage(journal_seq_);
  }
  std::vector<int> dropped;
  if (message.empty()) return dropped;
  for (auto& [id, client] : clients_) {
    if (!Send(client, message)) dropped.push_back(id);
  }
  for (const int id : dropped)
    clients_.erase(id);
  return dropped;
}

void AttachHub::Tell(const std::string& user, std::string_view result) {
  // A window too far behind to take it is dropped by the tick, whose next message fails too.
  const std::string message = ResultMessage(0, result);
  for (auto& [id, client] : clients_)
    if (client.user == user) Send(client, message);
}

Connection TellEndedLogIns(AccessGate& gate, AttachHub& hub) {
  return gate.events.Connect([&hub](const AccessEvent& event) {
    const bool ended =
        event.kind == AccessEventKind::kLogOut || event.kind == AccessEventKind::kTimeout;
    if (ended && event.origin.kind == OriginKind::kLocalSocket)
      hub.Tell(event.origin.detail, kResultLoggedOut);
  });
}

}  // namespace orv
