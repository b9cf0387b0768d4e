#include "shell/window_themes.h"

#include "shell/theme_style.h"

namespace Kvx {
namespace {

struct Colours {
  QColor window, base, alternate, text, button, buttonText, highlight, highlightedText, mid, dark, tip, tipText;
  QColor barTop, barBottom, panelEdge, barText;
};

WindowTheme Make(const Colours& c) {
  WindowTheme theme;
  QPalette& p = theme.palette;
  for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
    p.setColor(group, QPalette::Window, c.window);
    p.setColor(group, QPalette::WindowText, c.text);
    p.setColor(group, QPalette::Base, c.base);
    p.setColor(group, QPalette::AlternateBase, c.alternate);
    p.setColor(group, QPalette::Text, c.text);
    p.setColor(group, QPalette::Button, c.button);
    p.setColor(group, QPalette::ButtonText, c.buttonText);
    p.setColor(group, QPalette::Highlight, c.highlight);
    p.setColor(group, QPalette::HighlightedText, c.highlightedText);
    p.setColor(group, QPalette::Mid, c.mid);
    p.setColor(group, QPalette::Dark, c.dark);
    p.setColor(group, QPalette::Light, c.base.lighter(110));
    p.setColor(group, QPalette::Midlight, c.button.lighter(108));
    p.setColor(group, QPalette::Shadow, c.dark.darker(140));
    p.setColor(group, QPalette::ToolTipBase, c.tip);
    p.setColor(group, QPalette::ToolTipText, c.tipText);
    p.setColor(group, QPalette::PlaceholderText, c.mid);
    p.setColor(group, QPalette::Link, c.highlight.lighter(c.base.lightness() < 128 ? 150 : 100));
    p.setColor(group, QPalette::BrightText, Qt::white);
  }
  const QColor disabledText = c.base.lightness() < 128 ? QColor(0x80, 0x80, 0x80) : QColor(0x9a, 0x9a, 0x9a);
  p.setColor(QPalette::Disabled, QPalette::Window, c.window);
  p.setColor(QPalette::Disabled, QPalette::Base, c.window);
  p.setColor(QPalette::Disabled, QPalette::Button, c.button);
  p.setColor(QPalette::Disabled, QPalette::WindowText, disabledText);
  p.setColor(QPalette::Disabled, QPalette::Text, disabledText);
  p.setColor(QPalette::Disabled, QPalette::ButtonText, disabledText);
  p.setColor(QPalette::Disabled, QPalette::Highlight, c.mid);
  p.setColor(QPalette::Disabled, QPalette::HighlightedText, c.highlightedText);
  theme.barTop = c.barTop;
  theme.barBottom = c.barBottom;
  theme.panelEdge = c.panelEdge;
  theme.barText = c.barText;
  return theme;
}

}  // namespace

WindowTheme ThemeOf(int style) {
  switch (ValidThemeStyle(style)) {
    case 1:  // black
      return Make({QColor(0x35, 0x37, 0x3b), QColor(0x24, 0x26, 0x29), QColor(0x2c, 0x2e, 0x32), QColor(0xe8, 0xe8, 0xe8),
                   QColor(0x44, 0x47, 0x4c), QColor(0xf0, 0xf0, 0xf0), QColor(0xd0, 0x8a, 0x2c), QColor(0x10, 0x10, 0x10),
                   QColor(0x6a, 0x6d, 0x72), QColor(0x1a, 0x1b, 0x1d), QColor(0x50, 0x52, 0x57), QColor(0xf0, 0xf0, 0xf0),
                   QColor(0x4a, 0x4c, 0x51), QColor(0x2b, 0x2d, 0x30), QColor(0x5f, 0x62, 0x68), QColor(0xf2, 0xf2, 0xf2)});
    case 2:  // grey
      return Make({QColor(0xe4, 0xe4, 0xe4), QColor(0xff, 0xff, 0xff), QColor(0xf3, 0xf3, 0xf3), QColor(0x20, 0x20, 0x20),
                   QColor(0xdc, 0xdc, 0xdc), QColor(0x20, 0x20, 0x20), QColor(0x6e, 0x6e, 0x6e), QColor(0xff, 0xff, 0xff),
                   QColor(0xa0, 0xa0, 0xa0), QColor(0x70, 0x70, 0x70), QColor(0xf7, 0xf7, 0xf7), QColor(0x20, 0x20, 0x20),
                   QColor(0xf2, 0xf2, 0xf2), QColor(0xcf, 0xcf, 0xcf), QColor(0xa8, 0xa8, 0xa8), QColor(0x30, 0x30, 0x30)});
    case 3:  // silver
      return Make({QColor(0xed, 0xee, 0xf0), QColor(0xff, 0xff, 0xff), QColor(0xf4, 0xf6, 0xf9), QColor(0x1e, 0x24, 0x2c),
                   QColor(0xe4, 0xe6, 0xea), QColor(0x1e, 0x24, 0x2c), QColor(0x8a, 0x96, 0xa8), QColor(0xff, 0xff, 0xff),
                   QColor(0xa9, 0xb2, 0xc0), QColor(0x74, 0x7e, 0x8c), QColor(0xfa, 0xfb, 0xfd), QColor(0x1e, 0x24, 0x2c),
                   QColor(0xfb, 0xfc, 0xfd), QColor(0xd5, 0xdb, 0xe4), QColor(0xb4, 0xbd, 0xca), QColor(0x3b, 0x45, 0x55)});
    default:  // blue
      return Make({QColor(0xcf, 0xdf, 0xf3), QColor(0xff, 0xff, 0xff), QColor(0xef, 0xf4, 0xfb), QColor(0x15, 0x20, 0x30),
                   QColor(0xc6, 0xd9, 0xf1), QColor(0x15, 0x20, 0x30), QColor(0x33, 0x79, 0xc6), QColor(0xff, 0xff, 0xff),
                   QColor(0x8d, 0xa8, 0xcc), QColor(0x5a, 0x76, 0x9c), QColor(0xff, 0xff, 0xe8), QColor(0x15, 0x20, 0x30),
                   QColor(0xe3, 0xee, 0xfb), QColor(0xad, 0xc9, 0xee), QColor(0x7f, 0xa6, 0xdb), QColor(0x15, 0x41, 0x8c)});
  }
}

QString CommandBarStyleSheet(const WindowTheme& t) {
  const QString text = t.barText.name();
  return QStringLiteral(
             "#CommandBar { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 %1, stop:1 %2); }"
             "#CommandBar QTabBar::tab { color: %4; padding: 4px 14px; border: 1px solid transparent; }"
             "#CommandBar QTabBar::tab:selected { background: %1; border: 1px solid %3; border-bottom: none; }"
             "#CommandPanel { border: 1px solid %3; border-radius: 3px; background: transparent; }"
             "#CommandPanelTitle { color: %4; }"
             "#CommandBar QToolButton { color: %4; border: 1px solid transparent; border-radius: 3px; padding: 2px; }"
             "#CommandBar QToolButton:hover { border: 1px solid %3; background: %1; }"
             "#CommandBar QToolButton:disabled { color: %5; }")
      .arg(t.barTop.name(), t.barBottom.name(), t.panelEdge.name(), text,
           t.palette.color(QPalette::Disabled, QPalette::ButtonText).name());
}

}  // namespace Kvx
