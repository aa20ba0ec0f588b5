#include "mqtt/json.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QString>

#include "platform/text_encoding.h"

namespace orv {

void AppendJsonString(std::string& out, std::string_view text) {
  const std::string valid = ValidUtf8(text);
  // Qt writes a value only inside an array or an object: ["..."] without its brackets.
  const QByteArray json = QJsonDocument(QJsonArray{QString::fromUtf8(
                                            valid.data(), static_cast<qsizetype>(valid.size()))})
                              .toJson(QJsonDocument::Compact);
  out.append(json.constData() + 1, static_cast<std::size_t>(json.size() - 2));
}

}  // namespace orv
