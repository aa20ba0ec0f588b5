#include "notify/notifier.h"

#include <algorithm>
#include <tuple>

namespace orv {
namespace {

// Which falls due first when several do: the new escalations, then the first notifications,
// then the repeats, then the done messages.
int Rank(const std::string& type) {
  if (type == "escalation") return 0;
  if (type == "problem") return 1;
  if (type == "repeat") return 2;
  return 3;
}

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

std::string Minutes(std::int64_t ms) {
  return ms % 60'000 == 0 ? std::to_string(ms / 60'000) + " min" : std::to_string(ms / 1000) + " s";
}

}  // namespace

Notifier::Notifier(std::vector<NotifyRule> rules, std::string instance)
    : rules_(std::move(rules)), instance_(std::move(instance)), last_sent_ms_(rules_.size()) {}

std::optional<std::size_t> Notifier::RuleIndex(const std::string& name) const {
  for (std::size_t i = 0; i < rules_.size(); ++i)
    if (rules_[i].name == name) return i;
  return std::nullopt;
}

void Notifier::Recover(const std::vector<std::pair<std::string, std::string>>& records) {
  // The deliveries due and not answered, by the due's first item and the recipient.
  std::map<std::pair<std::string, std::string>, Delivery> open;
  for (const auto& [text, detail] : records) {
    const std::optional<NotifyRecordDetail> parsed = ParseNotifyRecordDetail(detail);
    if (!parsed) continue;
    const std::optional<std::size_t> rule = RuleIndex(parsed->rule);
    if (!rule) continue;  // a rule since taken out of the settings
    const NotifyItemKey& first = parsed->items.front();
    if (parsed->what == "sent" || parsed->what == "gave-up") {
      open.erase({first.Text(), parsed->recipients.front()});
      continue;
    }
    if (parsed->what == "failed") continue;
    if (parsed->what == "closed") {
      const auto found = episodes_.find({*rule, first.condition});
      if (found != episodes_.end() && found->second.seq == first.seq) episodes_.erase(found);
      continue;
    }
    for (const NotifyItemKey& item : parsed->items) {
      const EpisodeKey key{*rule, item.condition};
      if (item.type == "done") {
        episodes_.erase(key);
        continue;
      }
      Episode& episode = episodes_[key];
      if (episode.seq != item.seq) episode = Episode{};
      std::tie(episode.id, episode.seq, episode.since_ms, episode.start_ms) =
          std::tie(item.condition, item.seq, item.since_ms, item.start_ms);
      episode.recovered = episode.notified = true;
      episode.kind =
          item.condition.rfind("alarm-", 0) == 0 ? ConditionKind::kAlarm : ConditionKind::kFault;
      if (item.type == "escalation") episode.escalated = true;
      if (item.type == "problem" || item.type == "repeat")
        episode.next_step = std::max(episode.next_step, static_cast<std::size_t>(item.step) + 1);
    }
    Delivery delivery;
    delivery.rule = parsed->rule;
    delivery.key = first;
    delivery.message =
        NotifyMessage{first.type,      parsed->rule,
                      first.condition, NotifyMessageTextOf(text, parsed->rule, first.type),
                      first.seq,       first.since_ms,
                      first.step,      instance_};
    delivery.committed = true;
    for (const std::string& recipient : parsed->recipients) {
      std::string why;
      const std::optional<NotifyRecipient> to = ParseNotifyRecipient(recipient, why);
      if (!to) continue;
      delivery.to = *to;
      open[{first.Text(), recipient}] = delivery;
    }
  }
  for (auto& [key, delivery] : open)
    deliveries_[next_delivery_++] = std::move(delivery);
}

void Notifier::Tick(const std::vector<Condition>& conditions, bool known, std::int64_t now_ms,
                    std::int64_t seq, std::vector<NotifyRecord>& records) {
  for (std::size_t rule = 0; rule < rules_.size(); ++rule)
    Follow(rule, conditions, known, now_ms, seq, records);
}

void Notifier::Follow(std::size_t r, const std::vector<Condition>& conditions, bool known,
                      std::int64_t now_ms, std::int64_t seq, std::vector<NotifyRecord>& records) {
  const NotifyRule& rule = rules_[r];
  const auto close = [&](const Episode& e, const char* why, const std::string& words) {
    records.push_back(
        {"Notify " + rule.name + ": " + Quoted(e.name.empty() ? e.id : e.name) + " " + words,
         NotifyRecordDetail{
             "closed", rule.name, {{why, e.id, e.seq, 0, e.since_ms, e.start_ms}}, {}}
             .Text()});
  };
  std::map<std::string, std::size_t, std::less<>> order;
  for (auto& [key, episode] : episodes_)
    if (key.first == r) episode.seen = false;
  for (std::size_t i = 0; i < conditions.size(); ++i) {
    const Condition& c = conditions[i];
    if (!rule.Matches(c)) continue;
    order[c.id] = i;
    const auto found = episodes_.find({r, c.id});
    if (found == episodes_.end()) {
      if (c.present && !c.acknowledged && !c.shelved()) {
        Episode& episode = episodes_[{r, c.id}];
        std::tie(episode.id, episode.name, episode.kind, episode.seq) =
            std::tie(c.id, c.name, c.kind, seq);
        std::tie(episode.since_ms, episode.book_since_ms, episode.start_ms, episode.seen) =
            std::tuple(c.since_ms, c.since_ms, now_ms, true);
      }
      continue;
    }
    Episode& episode = found->second;
    if (episode.recovered) {
      // What the journal left is followed on once the panel has read the controller. An alarm's
      // number belongs to one run of the program: a recovered alarm is never this one.
      if (!known || c.kind == ConditionKind::kAlarm) continue;
      std::tie(episode.recovered, episode.name, episode.book_since_ms) =
          std::tuple(false, c.name, c.since_ms);
    }
    episode.seen = true;
    if (episode.ending != Ending::kNone) continue;
    if (c.shelved()) {
      // Knowingly set aside: nobody is told, and it begins afresh when the shelf ends.
      close(episode, "shelved", "shelved, not followed");
      episodes_.erase(found);
    } else if (c.acknowledged) {
      std::tie(episode.ending, episode.ended_by, episode.comment) =
          std::tuple(Ending::kAcknowledged, c.acknowledged_by, c.comment);
    } else if (!c.present || c.since_ms != episode.book_since_ms) {
      episode.ending = Ending::kCleared;  // gone, or gone and back between two ticks
    }
  }

  std::vector<Item> items;
  for (auto it = episodes_.begin(); it != episodes_.end();) {
    Episode& episode = it->second;
    if (it->first.first != r) {
      ++it;
      continue;
    }
    if (episode.recovered) {
      if (!known) {
        ++it;
        continue;
      }
      if (episode.kind == ConditionKind::kAlarm || !rule.done) {
        close(episode, "restart", "not followed after the restart");
        it = episodes_.erase(it);
        continue;
      }
      // A lamp, the link or the sounder that went while the program was down.
      std::tie(episode.recovered, episode.ending) = std::tuple(false, Ending::kCleared);
    } else if (!episode.seen && episode.ending == Ending::kNone) {
      episode.ending = Ending::kCleared;
    }
    const auto at = order.find(episode.id);
    const std::size_t place = at != order.end() ? at->second : conditions.size();
    if (episode.ending != Ending::kNone) {
      if (!episode.notified || !rule.done) {
        it = episodes_.erase(it);
        continue;
      }
      items.push_back({&episode, "done", 0, place});
    } else {
      const std::int64_t base = episode.start_ms + rule.after_ms;
      std::optional<std::size_t> due;
      for (std::size_t k = episode.next_step; k < rule.repeat_ms.size(); ++k)
        if (now_ms >= base + rule.repeat_ms[k]) due = k;
      if (due)
        items.push_back(
            {&episode, *due == 0 ? "problem" : "repeat", static_cast<int>(*due), place});
      if (rule.escalate_after_ms && !episode.escalated && now_ms >= base + *rule.escalate_after_ms)
        items.push_back({&episode, "escalation", 0, place});
    }
    ++it;
  }
  if (items.empty()) return;
  if (last_sent_ms_[r] && now_ms - *last_sent_ms_[r] < rule.interval_ms) return;
  Notify(r, items, now_ms, records);
}

std::string Notifier::Describe(const Item& item) const {
  const Episode& e = *item.episode;
  const std::string name = Quoted(e.name.empty() ? e.id : e.name);
  if (item.type == "problem") return name + " stands";
  if (item.type == "repeat")
    return name + " still stands (repeat " + std::to_string(item.step) + ")";
  if (item.type == "escalation") return name + " stands unacknowledged";
  if (e.ending == Ending::kAcknowledged)
    return name + " acknowledged by " + e.ended_by + (e.comment.empty() ? "" : ": " + e.comment);
  return name + " cleared";
}

void Notifier::Notify(std::size_t r, std::vector<Item>& items, std::int64_t now_ms,
                      std::vector<NotifyRecord>& records) {
  const NotifyRule& rule = rules_[r];
  std::stable_sort(items.begin(), items.end(), [](const Item& a, const Item& b) {
    return std::pair(Rank(a.type), a.order) < std::pair(Rank(b.type), b.order);
  });
  // Each recipient is told of what concerns it: an escalation goes to the escalation's list, the
  // rest to the rule's list and, once escalated, to the escalation's too. Recipients told of the
  // same get one message.
  std::vector<std::pair<std::vector<std::size_t>, std::vector<NotifyRecipient>>> groups;
  std::vector<std::pair<NotifyRecipient, std::vector<std::size_t>>> per_recipient;
  for (std::size_t i = 0; i < items.size(); ++i) {
    const Episode& e = *items[i].episode;
    std::vector<NotifyRecipient> to;
    if (items[i].type == "escalation") {
      to = rule.escalate_to;
    } else {
      to = rule.to;
      if (e.escalated) to.insert(to.end(), rule.escalate_to.begin(), rule.escalate_to.end());
    }
    for (const NotifyRecipient& recipient : to) {
      auto found = std::find_if(per_recipient.begin(), per_recipient.end(),
                                [&](const auto& p) { return p.first == recipient; });
      if (found == per_recipient.end())
        per_recipient.push_back({recipient, {i}});
      else if (found->second.back() != i)
        found->second.push_back(i);
    }
  }
  for (const auto& [recipient, told] : per_recipient) {
    auto same = std::find_if(groups.begin(), groups.end(),
                             [&told = told](const auto& g) { return g.first == told; });
    if (same == groups.end())
      groups.push_back({told, {recipient}});
    else
      same->second.push_back(recipient);
  }
  for (const auto& [told, recipients] : groups) {
    const Item& first = items[told.front()];
    NotifyMessage message{first.type,      rule.name,          first.episode->id,
                          Describe(first), first.episode->seq, first.episode->since_ms,
                          first.step,      instance_};
    if (told.size() > 1) message.text += " and " + std::to_string(told.size() - 1) + " more";
    NotifyRecordDetail detail{"due", rule.name, {}, {}};
    for (const std::size_t i : told) {
      const Episode& e = *items[i].episode;
      detail.items.push_back({items[i].type, e.id, e.seq, items[i].step, e.since_ms, e.start_ms});
    }
    for (const NotifyRecipient& recipient : recipients)
      detail.recipients.push_back(recipient.Text());
    records.push_back({NotifyRecordText(rule.name, message.type, message.text), detail.Text()});
    for (const NotifyRecipient& recipient : recipients) {
      Delivery delivery;
      delivery.rule = rule.name;
      delivery.key = detail.items.front();
      delivery.to = recipient;
      delivery.message = message;
      delivery.next_ms = now_ms;
      AddDelivery(std::move(delivery), records);
    }
  }
  std::vector<EpisodeKey> done;
  for (const Item& item : items) {
    Episode& e = *item.episode;
    e.notified = true;
    if (item.type == "escalation") e.escalated = true;
    if (item.type == "problem" || item.type == "repeat")
      e.next_step = static_cast<std::size_t>(item.step) + 1;
    if (item.type == "done") done.emplace_back(r, e.id);
  }
  for (const EpisodeKey& key : done)
    episodes_.erase(key);
  last_sent_ms_[r] = now_ms;
}

void Notifier::AddDelivery(Delivery delivery, std::vector<NotifyRecord>& records) {
  if (deliveries_.size() >= kMostDeliveries) {
    // The oldest that is not under way makes room: a bounded backlog, and said.
    for (auto it = deliveries_.begin(); it != deliveries_.end(); ++it) {
      if (it->second.in_flight) continue;
      const Delivery& old = it->second;
      records.push_back({"Notify " + old.rule + ": to " + old.to.Text() +
                             " given up, too many notifications waiting",
                         NotifyRecordDetail{"gave-up", old.rule, {old.key}, {old.to.Text()}}.Text(),
                         true});
      deliveries_.erase(it);
      break;
    }
  }
  deliveries_[next_delivery_++] = std::move(delivery);
}

void Notifier::Committed() {
  for (auto& [id, delivery] : deliveries_)
    delivery.committed = true;
}

std::vector<NotifySend> Notifier::Release(std::int64_t now_ms, std::size_t most) {
  std::vector<NotifySend> sends;
  for (auto& [id, delivery] : deliveries_) {
    if (sends.size() == most) break;
    if (!delivery.committed || delivery.in_flight || delivery.next_ms > now_ms) continue;
    delivery.in_flight = true;
    sends.push_back({id, delivery.to, delivery.message});
  }
  return sends;
}

void Notifier::Answered(std::uint64_t id, const NotifyResult& result, std::int64_t now_ms,
                        std::vector<NotifyRecord>& records) {
  const auto found = deliveries_.find(id);
  if (found == deliveries_.end()) return;
  Delivery& d = found->second;
  d.in_flight = false;
  ++d.attempts;
  const std::string head = "Notify " + d.rule + " " + d.message.type + " to " + d.to.Text() + ": ";
  const auto detail = [&d](const char* what) {
    return NotifyRecordDetail{what, d.rule, {d.key}, {d.to.Text()}}.Text();
  };
  if (result.ok) {
    records.push_back({head + "sent (" + result.answer + ")", detail("sent")});
    deliveries_.erase(found);
    return;
  }
  ++failures_;
  // Counted where it is said: one failure may be chance, many are a channel to mend.
  const std::string count = "; " + std::to_string(failures_) + " failed since the start";
  if (d.attempts >= kMostAttempts) {
    records.push_back({head + "failed (" + result.answer + "), given up after " +
                           std::to_string(d.attempts) + " tries" + count,
                       detail("gave-up"), true});
    deliveries_.erase(found);
    return;
  }
  const std::int64_t wait =
      std::min(kLongestRetryMs, kFirstRetryMs << std::min(d.attempts - 1, 10));
  d.next_ms = now_ms + wait;
  records.push_back(
      {head + "failed (" + result.answer + "), tried again in " + Minutes(wait) + count,
       detail("failed"), true});
}

}  // namespace orv
