#pragma once

#include <QLoggingCategory>

#include "platform/notice.h"

namespace orv {

Q_DECLARE_LOGGING_CATEGORY(lcNotice)

// Notices as messages of the category "orvandel.notice" (standard error, unless a message
// handler takes them): errors as critical, warnings as warnings, the rest as information.
NoticeFn QtLogNotices();

}  // namespace orv
