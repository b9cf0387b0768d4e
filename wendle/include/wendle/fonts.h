#pragma once

#include <QFont>

#include "wendle/export.h"

namespace Wendle {

// The application font with faces that hold Chinese glyphs put first (Noto Sans CJK, Source Han
// Sans, WenQuanYi, Droid Sans Fallback), the platform's own face after them.
WENDLE_API QFont ChineseFont();

// The title of a wizard page: ChineseFont(), bold, 16 pixels high.
WENDLE_API QFont PageTitleFont();

}  // namespace Wendle
