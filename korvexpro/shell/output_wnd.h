#pragma once

// The two panes at the bottom of the main window:
//  - COutputWnd ("输出"): a tab "操作日志 " holding COutputList, the operation log as a list with
//    grid lines, full-row selection and the columns "时间" (120 wide) and "操作" (the rest); its
//    context menu "弹出项" offers "清除" and "另存为";
//  - CConversionInfoPane ("转换信息"): a read-only text box with the selected row's conversion log.

#include <QPlainTextEdit>
#include <QTableWidget>
#include <QWidget>

class QAction;
class QMenu;
class QTabWidget;

namespace Kvx {

struct OperationLogEntry;

class COutputList : public QTableWidget {
  Q_OBJECT

 public:
  explicit COutputList(QWidget* parent = nullptr);

  // Appends a row (time, ">"-prefixed message) and scrolls it into view.
  void Append(const OperationLogEntry& entry);
  void ClearRows();

  QAction* ClearAction() const { return clear_; }
  QAction* SaveAction() const { return save_; }
  // The context menu, built once.
  QMenu* ContextMenu() const { return menu_; }

 Q_SIGNALS:
  void clearRequested();
  void saveRequested();

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QAction* clear_;
  QAction* save_;
  QMenu* menu_;
};

class COutputWnd : public QWidget {
  Q_OBJECT

 public:
  explicit COutputWnd(QWidget* parent = nullptr);
  COutputList* List() const { return list_; }
  QTabWidget* Tabs() const { return tabs_; }

 private:
  QTabWidget* tabs_;
  COutputList* list_;
};

class CConversionInfoPane : public QPlainTextEdit {
  Q_OBJECT

 public:
  explicit CConversionInfoPane(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {200, 200}; }
};

inline constexpr char kOutputPaneTitle[] = "输出";
inline constexpr char kInfoPaneTitle[] = "转换信息";
inline constexpr char kLogTabTitle[] = "操作日志 ";

}  // namespace Kvx
