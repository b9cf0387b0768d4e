#pragma once

// The command bar at the top of the main window, in place of a ribbon: a row with the application
// button "文件" (its menu), the tabs and a button at the right end, and under it the commands of
// the current tab in titled panels. Each command is a QAction shown as a large button (icon above
// its text); its tool tip comes from the action.

#include <QList>
#include <QString>
#include <QStringList>
#include <QWidget>

class QAction;
class QHBoxLayout;
class QMenu;
class QStackedWidget;
class QTabBar;
class QToolButton;

namespace Kvx {

class CCommandBar : public QWidget {
  Q_OBJECT

 public:
  explicit CCommandBar(QWidget* parent = nullptr);

  // The application button with its menu.
  void SetApplicationMenu(const QString& text, QMenu* menu);
  // The button at the right end of the tab row.
  void SetCornerAction(QAction* action);
  // A menu button left of it.
  QToolButton* AddCornerMenu(const QString& text, const QIcon& icon, QMenu* menu);

  // Adds a tab ("视图(&V)": Alt+V opens it) and returns its index.
  int AddTab(const QString& title);
  // Adds a titled panel to tab `tab` and returns its index in that tab.
  int AddPanel(int tab, const QString& title);
  // Adds a command to the last panel of `tab`; a null action adds a separator.
  QToolButton* AddCommand(int tab, QAction* action);

  // What the bar holds, for tests and the documentation: per panel its title and its commands'
  // texts ("|" for a separator).
  struct Panel {
    QString title;
    QList<QAction*> actions;  // nullptr: a separator
  };
  QStringList TabTitles() const;
  QList<Panel> Panels(int tab) const;
  QTabBar* Tabs() const { return tabs_; }
  QToolButton* ApplicationButton() const { return appButton_; }
  QToolButton* CornerButton() const { return corner_; }
  QToolButton* ButtonOf(const QAction* action) const;

 private:
  struct PanelWidgets {
    QString title;
    QHBoxLayout* buttons = nullptr;
    QList<QAction*> actions;
  };
  struct Tab {
    QWidget* page = nullptr;
    QHBoxLayout* panels = nullptr;
    QList<PanelWidgets> panelList;
  };

  QToolButton* appButton_;
  QTabBar* tabs_;
  QToolButton* corner_;
  QHBoxLayout* row_;
  QStackedWidget* pages_;
  QList<Tab> tabList_;
  QList<QToolButton*> buttons_;
};

// A command's tool tip from its text "description\nshort name": the short name in bold over the
// description (a text without "\n" is both).
QString ToolTipOf(const QString& text);
// The parts of such a text.
QString TipDescription(const QString& text);
QString TipLabel(const QString& text);

}  // namespace Kvx
