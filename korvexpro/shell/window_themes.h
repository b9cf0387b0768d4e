#pragma once

// The four looks of the main window, by ThemeStyle: blue, black, grey and silver. Each is a whole
// palette (windows, buttons, lists, selections, tool tips) and the colours of the command bar, so
// applying one restyles every widget of the program at once, the dialogs included.

#include <QColor>
#include <QPalette>
#include <QString>

class QApplication;

namespace Kvx {

struct WindowTheme {
  QPalette palette;
  QColor barTop;     // the command bar's gradient
  QColor barBottom;
  QColor panelEdge;  // the frames of its panels
  QColor barText;    // texts of the command bar's tabs and panel titles
};

// The theme of `style` (made valid: an unknown value gives the blue theme).
WindowTheme ThemeOf(int style);

// The command bar's style sheet for a theme.
QString CommandBarStyleSheet(const WindowTheme& theme);

}  // namespace Kvx
