#include "platform/qt/qt_notice.h"

#include <QString>

namespace orv {

// Information is shown too: "the log works again" is as much news as "it failed".
Q_LOGGING_CATEGORY(lcNotice, "orvandel.notice", QtInfoMsg)

NoticeFn QtLogNotices() {
  return [](const Notice& notice) {
    const QString text = QString::fromStdString(notice.text);
    switch (notice.level) {
      case NoticeLevel::kError:
        qCCritical(lcNotice).noquote() << text;
        break;
      case NoticeLevel::kWarning:
        qCWarning(lcNotice).noquote() << text;
        break;
      case NoticeLevel::kInfo:
        qCInfo(lcNotice).noquote() << text;
        break;
    }
  };
}

}  // namespace orv
