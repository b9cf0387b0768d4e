#include "shell/command_bar.h"

#include <QAction>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QStackedWidget>
#include <QTabBar>
#include <QToolButton>
#include <QVBoxLayout>

namespace Kvx {

QString TipDescription(const QString& text) {
  const qsizetype cut = text.indexOf(QLatin1Char('\n'));
  return cut < 0 ? text : text.left(cut);
}

QString TipLabel(const QString& text) {
  const qsizetype cut = text.indexOf(QLatin1Char('\n'));
  return cut < 0 ? text : text.mid(cut + 1);
}

QString ToolTipOf(const QString& text) {
  const QString label = TipLabel(text).toHtmlEscaped();
  const QString description = TipDescription(text).toHtmlEscaped();
  if (label == description) return QStringLiteral("<b>%1</b>").arg(label);
  return QStringLiteral("<b>%1</b><br>%2").arg(label, description);
}

CCommandBar::CCommandBar(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("CommandBar"));
  setAttribute(Qt::WA_StyledBackground);
  auto* column = new QVBoxLayout(this);
  column->setContentsMargins(4, 2, 4, 4);
  column->setSpacing(0);

  auto* row = new QHBoxLayout;
  row_ = row;
  row->setSpacing(6);
  appButton_ = new QToolButton(this);
  appButton_->setObjectName(QStringLiteral("ApplicationButton"));
  appButton_->setPopupMode(QToolButton::InstantPopup);
  appButton_->setToolButtonStyle(Qt::ToolButtonTextOnly);
  appButton_->setMinimumWidth(56);
  tabs_ = new QTabBar(this);
  tabs_->setDrawBase(false);
  tabs_->setExpanding(false);
  corner_ = new QToolButton(this);
  corner_->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  corner_->setAutoRaise(true);
  row->addWidget(appButton_);
  row->addWidget(tabs_);
  row->addStretch(1);
  row->addWidget(corner_);
  column->addLayout(row);

  pages_ = new QStackedWidget(this);
  column->addWidget(pages_);
  connect(tabs_, &QTabBar::currentChanged, pages_, &QStackedWidget::setCurrentIndex);
}

void CCommandBar::SetApplicationMenu(const QString& text, QMenu* menu) {
  appButton_->setText(text);
  appButton_->setMenu(menu);
}

void CCommandBar::SetCornerAction(QAction* action) {
  corner_->setDefaultAction(action);
  corner_->setIconSize(QSize(16, 16));
}

QToolButton* CCommandBar::AddCornerMenu(const QString& text, const QIcon& icon, QMenu* menu) {
  auto* button = new QToolButton(this);
  button->setText(text);
  button->setIcon(icon);
  button->setIconSize(QSize(16, 16));
  button->setMenu(menu);
  button->setPopupMode(QToolButton::InstantPopup);
  button->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
  button->setAutoRaise(true);
  row_->insertWidget(row_->indexOf(corner_), button);
  return button;
}

int CCommandBar::AddTab(const QString& title) {
  Tab tab;
  tab.page = new QWidget(pages_);
  tab.panels = new QHBoxLayout(tab.page);
  tab.panels->setContentsMargins(2, 3, 2, 2);
  tab.panels->setSpacing(4);
  tab.panels->addStretch(1);
  pages_->addWidget(tab.page);
  tabList_.append(tab);
  return tabs_->addTab(title);
}

int CCommandBar::AddPanel(int tab, const QString& title) {
  Tab& t = tabList_[tab];
  auto* frame = new QFrame(t.page);
  frame->setObjectName(QStringLiteral("CommandPanel"));
  auto* column = new QVBoxLayout(frame);
  column->setContentsMargins(3, 3, 3, 1);
  column->setSpacing(1);
  PanelWidgets panel;
  panel.title = title;
  panel.buttons = new QHBoxLayout;
  panel.buttons->setSpacing(1);
  column->addLayout(panel.buttons, 1);
  auto* caption = new QLabel(title, frame);
  caption->setObjectName(QStringLiteral("CommandPanelTitle"));
  caption->setAlignment(Qt::AlignCenter);
  column->addWidget(caption);
  // Before the stretch that keeps the panels at the left.
  t.panels->insertWidget(t.panels->count() - 1, frame);
  t.panelList.append(panel);
  return static_cast<int>(t.panelList.size() - 1);
}

QToolButton* CCommandBar::AddCommand(int tab, QAction* action) {
  PanelWidgets& panel = tabList_[tab].panelList.last();
  panel.actions.append(action);
  QWidget* owner = panel.buttons->parentWidget();
  if (action == nullptr) {
    auto* line = new QFrame(owner);
    line->setFrameShape(QFrame::VLine);
    line->setFrameShadow(QFrame::Sunken);
    panel.buttons->addWidget(line);
    return nullptr;
  }
  auto* button = new QToolButton(owner);
  button->setDefaultAction(action);
  button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
  button->setIconSize(QSize(32, 32));
  button->setAutoRaise(true);
  button->setMinimumWidth(58);
  panel.buttons->addWidget(button);
  buttons_.append(button);
  return button;
}

QStringList CCommandBar::TabTitles() const {
  QStringList titles;
  for (int i = 0; i < tabs_->count(); ++i) titles.append(tabs_->tabText(i));
  return titles;
}

QList<CCommandBar::Panel> CCommandBar::Panels(int tab) const {
  QList<Panel> panels;
  for (const PanelWidgets& p : tabList_[tab].panelList) panels.append({p.title, p.actions});
  return panels;
}

QToolButton* CCommandBar::ButtonOf(const QAction* action) const {
  for (QToolButton* button : buttons_)
    if (button->defaultAction() == action) return button;
  return nullptr;
}

}  // namespace Kvx
