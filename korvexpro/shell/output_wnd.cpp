#include "shell/output_wnd.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QHeaderView>
#include <QMenu>
#include <QTabWidget>
#include <QVBoxLayout>

#include "batch/operation_log.h"
#include "shell/command_bar.h"
#include "shell/command_icons.h"

namespace Kvx {

COutputList::COutputList(QWidget* parent) : QTableWidget(0, 2, parent) {
  setHorizontalHeaderLabels({QStringLiteral("时间"), QStringLiteral("操作")});
  setShowGrid(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setWordWrap(false);
  verticalHeader()->hide();
  verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
  horizontalHeader()->setHighlightSections(false);
  horizontalHeader()->resizeSection(0, 120);
  horizontalHeader()->setStretchLastSection(true);

  menu_ = new QMenu(QStringLiteral("弹出项"), this);
  clear_ = menu_->addAction(QStringLiteral("清除"));
  save_ = menu_->addAction(CommandIcon(Pictogram::ExportList), QStringLiteral("另存为"));
  save_->setToolTip(ToolTipOf(QStringLiteral("将日志内容存入文件\n另存")));
  menu_->setToolTipsVisible(true);
  connect(clear_, &QAction::triggered, this, &COutputList::clearRequested);
  connect(save_, &QAction::triggered, this, &COutputList::saveRequested);
}

void COutputList::Append(const OperationLogEntry& entry) {
  const int row = rowCount();
  insertRow(row);
  setItem(row, 0, new QTableWidgetItem(QString::fromStdString(entry.time)));
  // A message's own line break (the row-start lines have one) is not shown.
  QString text = QString::fromStdString(entry.text);
  while (text.endsWith(QLatin1Char('\n')) || text.endsWith(QLatin1Char('\r'))) text.chop(1);
  auto* message = new QTableWidgetItem(text);
  message->setToolTip(text);
  setItem(row, 1, message);
  scrollToBottom();
}

void COutputList::ClearRows() { setRowCount(0); }

void COutputList::contextMenuEvent(QContextMenuEvent* event) {
  save_->setEnabled(rowCount() > 0);
  menu_->popup(event->globalPos());
  event->accept();
}

void COutputList::resizeEvent(QResizeEvent* event) {
  QTableWidget::resizeEvent(event);
  horizontalHeader()->resizeSection(0, 120);
}

COutputWnd::COutputWnd(QWidget* parent) : QWidget(parent) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  tabs_ = new QTabWidget(this);
  tabs_->setTabPosition(QTabWidget::South);
  tabs_->setDocumentMode(true);
  list_ = new COutputList(tabs_);
  tabs_->addTab(list_, CommandIcon(Pictogram::LogPane), QString::fromUtf8(kLogTabTitle));
  layout->addWidget(tabs_);
}

CConversionInfoPane::CConversionInfoPane(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setLineWrapMode(QPlainTextEdit::NoWrap);
  setPlaceholderText(QStringLiteral("选择一行，查看它的转换日志"));
}

}  // namespace Kvx
