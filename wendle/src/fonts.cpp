#include "wendle/fonts.h"

#include <QApplication>
#include <QStringList>

namespace Wendle {

QFont ChineseFont() {
  QFont font = QApplication::font();
  QStringList families = {QStringLiteral("Noto Sans CJK SC"), QStringLiteral("Source Han Sans SC"),
                          QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("WenQuanYi Zen Hei"),
                          QStringLiteral("Droid Sans Fallback")};
  families.append(font.families().isEmpty() ? QStringList{font.family()} : font.families());
  font.setFamilies(families);
  return font;
}

QFont PageTitleFont() {
  QFont font = ChineseFont();
  font.setPixelSize(16);
  font.setWeight(QFont::Bold);
  return font;
}

}  // namespace Wendle
