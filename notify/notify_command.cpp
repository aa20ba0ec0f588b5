#include "notify/notify_command.h"

#include "notify/bounded_run.h"
#include "notify/notify_text.h"

namespace orv {

std::vector<std::string> NotifyCommandEnvironment(const NotifyMessage& msg) {
  // Bounded, so that no text makes the environment too long to start the command with.
  constexpr std::size_t kMaxFact = 1000;
  const auto fact = [](const std::string& text) { return OneLine(text, kMaxFact); };
  std::vector<std::string> env{"PATH=/usr/sbin:/usr/bin:/sbin:/bin",
                               "LANG=C.UTF-8",
                               "ORV_NOTIFY_TYPE=" + fact(msg.type),
                               "ORV_RULE=" + fact(msg.rule),
                               "ORV_CONDITION=" + fact(msg.condition),
                               "ORV_TEXT=" + fact(msg.text),
                               "ORV_SEQ=" + std::to_string(msg.seq),
                               "ORV_SINCE=" + IsoUtc(msg.since_ms),
                               "ORV_SINCE_MS=" + std::to_string(msg.since_ms),
                               "ORV_STEP=" + std::to_string(msg.step)};
  if (!msg.instance.empty()) env.push_back("ORV_INSTANCE=" + fact(msg.instance));
  return env;
}

NotifyResult RunNotifyCommand(const std::filesystem::path& program, const NotifyMessage& msg,
                              std::chrono::milliseconds limit, const std::atomic<bool>* stop) {
  if (!program.is_absolute())
    return {false,
            "refused: the command is not an absolute path: " + OneLine(program.string(), 200)};
  const BoundedRunEnd end = RunBounded({.program = program,
                                        .args = {},
                                        .env = NotifyCommandEnvironment(msg),
                                        .input = {},
                                        .limit = limit,
                                        .stop = stop});
  const bool ok = end.how == BoundedRunEnd::How::kExited && end.code == 0;
  return {ok, AnswerOf(end, limit)};
}

}  // namespace orv
