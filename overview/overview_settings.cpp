#include "overview/overview_settings.h"

#include <QString>
#include <QStringList>

namespace orv {
namespace {

constexpr const char* kSection = "Overview";

}  // namespace

OverviewSettings LoadOverviewSettings(const SiteSettings& site, const NoticeFn& notice,
                                      std::string_view host_name) {
  OverviewSettings settings;
  const auto say = [&notice](const std::string& text) {
    if (notice) notice(Notice{NoticeLevel::kWarning, text});
  };
  settings.mqtt = LoadMqttSettings(site, notice, host_name);
  std::string topic = site.Read(kSection, "Topic");
  if (topic.empty()) topic = "orvandel-overview/" + std::string(host_name);
  if (std::string why; !CheckBaseTopic(topic, why)) {
    settings.refusal = "[Overview] Topic=" + topic + " cannot be used: " + why;
    return settings;
  }
  settings.mqtt.base_topic = topic;

  std::string follow = site.Read(kSection, "Follow");
  if (follow.empty()) follow = "orvandel/#";
  for (const QString& piece : QString::fromStdString(follow).split(u',', Qt::SkipEmptyParts)) {
    const std::string filter = piece.trimmed().toStdString();
    if (const std::string why = TopicFilterProblem(filter); !why.empty()) {
      say("[Overview] Follow= " + filter + " is not a topic filter (" + why + "): it is left out.");
    } else if (settings.follow.size() == kMostFollowed) {
      say("[Overview] Follow= " + filter + " is past the " + std::to_string(kMostFollowed) +
          " filters followed: it is left out.");
    } else {
      settings.follow.push_back(filter);
    }
  }
  settings.web = LoadWebPanelSettings(site, notice, kSection);
  if (!settings.mqtt.enabled && settings.mqtt.broker.empty()) {
    settings.refusal = "[MQTT] Broker= names no broker: the overview reads the services there";
  } else if (!settings.mqtt.enabled) {
    settings.refusal = "the broker's settings cannot be used (see above)";
  } else if (!settings.web.refusal.empty()) {
    settings.refusal = settings.web.refusal;
  } else if (!settings.web.enabled) {
    settings.refusal = "[Overview] Listen= names no address to serve the overview at";
  } else if (settings.follow.empty()) {
    settings.refusal = "[Overview] Follow= leaves no topic filter to follow";
  }
  return settings;
}

}  // namespace orv
