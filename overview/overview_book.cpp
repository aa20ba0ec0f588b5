// The broker's payloads read with Qt Core's JSON classes, as the socket's codec reads its own.
#include "overview/overview_book.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <array>
#include <utility>

#include "web/web_settings.h"

namespace orv {
namespace {

constexpr std::array<std::string_view, 5> kWorstNames{"quiet", "shelved", "link", "fault", "alarm"};
// As many as a panel's book can hold.
constexpr qsizetype kMostConditions = 128;

// The topic's base and what it says of it; no base for a topic the overview does not read.
bool Split(std::string_view topic, std::string_view& base, std::string_view& sub) {
  const std::size_t slash = topic.rfind('/');
  if (slash == std::string_view::npos || slash == 0) return false;
  base = topic.substr(0, slash);
  sub = topic.substr(slash + 1);
  return (sub == "status" || sub == "link" || sub == "conditions" || sub == "web") &&
         base.size() <= OverviewBook::kLongestBase;
}

// The counts from a conditions payload; false when it is not one, and the tile keeps its own.
bool ReadConditions(std::string_view payload, OverviewTile& tile) {
  const QJsonDocument document =
      QJsonDocument::fromJson(QByteArray(payload.data(), static_cast<qsizetype>(payload.size())));
  if (!document.isArray() || document.array().size() > kMostConditions) return false;
  OverviewTile counted = tile;
  counted.alarms = counted.faults = counted.shelved = counted.unacknowledged = 0;
  counted.link_condition = false;
  for (const QJsonValue& item : document.array()) {
    const QJsonObject c = item.toObject();
    const QString kind = c[QStringLiteral("kind")].toString();
    const QString state = c[QStringLiteral("state")].toString();
    if (kind.isEmpty() || state.isEmpty()) return false;
    const bool shelved = c.contains(QStringLiteral("shelvedUntil"));
    const bool present = state == QLatin1String("new") || state == QLatin1String("acknowledged");
    if (state == QLatin1String("new") || state == QLatin1String("cleared"))
      ++counted.unacknowledged;
    if (shelved) ++counted.shelved;
    if (!present || shelved) continue;
    if (kind == QLatin1String("alarm"))
      ++counted.alarms;
    else if (kind == QLatin1String("link"))
      counted.link_condition = true;
    else
      ++counted.faults;
  }
  tile = counted;
  return true;
}

TileWorst WorstOf(const OverviewTile& tile) {
  if (tile.alarms > 0) return TileWorst::kAlarm;
  if (tile.faults > 0) return TileWorst::kFault;
  if (tile.link_condition || (!tile.link.empty() && tile.link != "answering"))
    return TileWorst::kLinkLost;
  if (tile.shelved > 0) return TileWorst::kShelved;
  return TileWorst::kQuiet;
}

}  // namespace

std::string_view TileWorstName(TileWorst worst) {
  return kWorstNames[static_cast<std::size_t>(worst)];
}

bool OverviewBook::Take(std::string_view topic, std::string_view payload) {
  std::string_view base, sub;
  if (!Split(topic, base, sub) || payload.size() > kLongestPayload) return false;
  auto it = tiles_.find(base);
  if (it == tiles_.end()) {
    // A retained value taken off the broker is no service's news.
    if (payload.empty()) return false;
    if (tiles_.size() == kMostTiles) {
      ++left_out_;
      return false;
    }
    OverviewTile tile;
    tile.base = std::string(base);
    tile.name = std::string(base.substr(base.rfind('/') + 1));
    it = tiles_.emplace(tile.base, std::move(tile)).first;
  }
  OverviewTile& tile = it->second;
  const OverviewTile before = tile;
  if (sub == "status") {
    // Its status taken off the broker: the service was retired there.
    if (payload.empty()) {
      tiles_.erase(it);
      return true;
    }
    tile.stale = payload != "online";
  } else if (sub == "link") {
    if (payload == "answering" || payload == "no-reply" || payload == "disconnected")
      tile.link = std::string(payload);
  } else if (sub == "web") {
    // The page opens it on a click: anything but a web address (javascript:, a login in it)
    // is no link.
    const bool web = payload.size() <= kLongestWeb && IsWebAddress(payload);
    tile.web = web ? std::string(payload) : std::string();
  } else if (!ReadConditions(payload, tile)) {
    return false;
  }
  tile.worst = WorstOf(tile);
  return tile != before;
}

std::vector<OverviewTile> OverviewBook::Tiles() const {
  std::vector<OverviewTile> tiles;
  tiles.reserve(tiles_.size());
  for (const auto& [base, tile] : tiles_)
    tiles.push_back(tile);
  return tiles;
}

std::string OverviewBook::Json(std::string_view broker, bool connected) const {
  QJsonArray tiles;
  for (const auto& [base, tile] : tiles_) {
    tiles.append(QJsonObject{
        {QStringLiteral("base"), QString::fromStdString(tile.base)},
        {QStringLiteral("name"), QString::fromStdString(tile.name)},
        {QStringLiteral("stale"), tile.stale},
        {QStringLiteral("link"), QString::fromStdString(tile.link)},
        {QStringLiteral("alarms"), tile.alarms},
        {QStringLiteral("faults"), tile.faults},
        {QStringLiteral("shelved"), tile.shelved},
        {QStringLiteral("unacknowledged"), tile.unacknowledged},
        {QStringLiteral("worst"),
         QString::fromUtf8(TileWorstName(tile.worst).data(),
                           static_cast<qsizetype>(TileWorstName(tile.worst).size()))},
        {QStringLiteral("web"), QString::fromStdString(tile.web)},
    });
  }
  const QJsonObject object{
      {QStringLiteral("tiles"), tiles},
      {QStringLiteral("leftOut"), static_cast<qint64>(left_out_)},
      {QStringLiteral("broker"),
       QString::fromUtf8(broker.data(), static_cast<qsizetype>(broker.size()))},
      {QStringLiteral("connected"), connected}};
  return QJsonDocument(object).toJson(QJsonDocument::Compact).toStdString();
}

}  // namespace orv
