#include "shell/korvexpro_view.h"

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDesktopServices>
#include <QDir>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFileInfo>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>
#include <QProcess>
#include <QScrollBar>

#include <array>
#include <system_error>

#include "shell/command_icons.h"
#include "shell/dialog_paths.h"
#include "shell/wiz_shape_dlg.h"
#include "wendle/folder_list_dialog.h"

namespace Kvx {
namespace fs = std::filesystem;

namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

fs::path PathOf(const QString& text) { return fs::path(PathString(text)); }

Wendle::MessageIcon BoxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Warning: return Wendle::MessageIcon::Warning;
    case MessageIcon::Error: return Wendle::MessageIcon::Critical;
    case MessageIcon::Information: break;
  }
  return Wendle::MessageIcon::Information;
}

// 0x00BBGGRR as a colour.
QColor RowColour(std::uint32_t bgr) {
  return QColor(static_cast<int>(bgr & 0xFF), static_cast<int>((bgr >> 8) & 0xFF), static_cast<int>((bgr >> 16) & 0xFF));
}

constexpr int kOutputsRole = Qt::UserRole + 1;

// The add-files dialog's filter as the Windows program gives it: name, patterns, … in pairs.
constexpr std::string_view kWindowsOpenFilter =
    "MapGis工程文件 (*.mpj)|*.mpj|MapGis图层文件(*.wt;*.wl;*.wp;*.wn;*.wb)|*.wt;*.wl;*.wp;*.wn;*.wb|"
    "MapGis点文件 (*.wt)|*.wt|MapGis线文件 (*.wl)|*.wl|MapGis面文件 (*.wp)|*.wp|MapGis网络文件 (*.wn)|*.wn|"
    "MapGis表格文件 (*.wb)|*.wb||";

}  // namespace

// ---- Prompts ----

QStringList ShellPrompts::ChooseFolders(QWidget* parent, const QString& start) {
  return Wendle::ChooseFolders(parent, *this, QStringLiteral("选择目录"), start);
}

bool ShellPrompts::RunWizard(QWidget* parent, const BatchCommand& command, Settings& settings) {
  return RunConvertWizard(command, settings, *this, parent);
}

void QtShellPrompts::Message(QWidget* parent, Wendle::MessageIcon icon, const QString& caption, const QString& text) {
  boxes_.Message(parent, icon, caption, text);
}

bool QtShellPrompts::Question(QWidget* parent, const QString& caption, const QString& text) {
  return boxes_.Question(parent, caption, text);
}

QString QtShellPrompts::PickFolder(QWidget* parent, const QString& caption, const QString& start) {
  return boxes_.PickFolder(parent, caption, start);
}

QStringList QtShellPrompts::OpenFiles(QWidget* parent, const QString& caption, const QString& folder,
                                      const QString& filter) {
  return QFileDialog::getOpenFileNames(parent, caption, Wendle::StartFolderFor(folder), filter);
}

QString QtShellPrompts::SaveFile(QWidget* parent, const QString& caption, const QString& folder, const QString& filter,
                                 const QString& suffix) {
  QFileDialog dialog(parent, caption, Wendle::StartFolderFor(folder), filter);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setDefaultSuffix(suffix);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().constFirst();
}

void QtShellPrompts::Reveal(const QString& file) {
  // The desktop's file manager shows the file selected; without one, its folder opens.
  QProcess show;
  show.start(QStringLiteral("dbus-send"),
             {QStringLiteral("--session"), QStringLiteral("--print-reply"),
              QStringLiteral("--dest=org.freedesktop.FileManager1"), QStringLiteral("--type=method_call"),
              QStringLiteral("/org/freedesktop/FileManager1"), QStringLiteral("org.freedesktop.FileManager1.ShowItems"),
              QStringLiteral("array:string:") + QUrl::fromLocalFile(file).toString(), QStringLiteral("string:")});
  if (show.waitForFinished(3000) && show.exitStatus() == QProcess::NormalExit && show.exitCode() == 0) return;
  show.kill();
  QDesktopServices::openUrl(QUrl::fromLocalFile(QFileInfo(file).absolutePath()));
}

bool QtShellPrompts::OpenUrl(const QUrl& url) { return QDesktopServices::openUrl(url); }

QString OpenFileFilter() {
  const QStringList parts = Q(kWindowsOpenFilter).split(QLatin1Char('|'), Qt::SkipEmptyParts);
  QStringList filters;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    QString name = parts[i];
    if (const qsizetype open = name.indexOf(QLatin1Char('(')); open > 0) name = name.left(open).trimmed();
    QStringList patterns;
    for (const QString& pattern : parts[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
      patterns.append(pattern);
      if (pattern.toUpper() != pattern) patterns.append(pattern.toUpper());
    }
    filters.append(QStringLiteral("%1 (%2)").arg(name, patterns.join(QLatin1Char(' '))));
  }
  return filters.join(QStringLiteral(";;"));
}

// ---- The view ----

// Marks the view busy for a search or a batch; Escape is watched meanwhile.
class CKorvexProView::BusyScope {
 public:
  explicit BusyScope(CKorvexProView& view) : view_(view) { view_.SetBusy(true); }
  ~BusyScope() { view_.SetBusy(false); }
  BusyScope(const BusyScope&) = delete;
  BusyScope& operator=(const BusyScope&) = delete;

 private:
  CKorvexProView& view_;
};

CKorvexProView::CKorvexProView(Settings& settings, ShellPrompts& prompts, QWidget* parent)
    : QTreeWidget(parent),
      settings_(settings),
      prompts_(prompts),
      log_(this),
      list_(this),
      driver_(list_, log_, styles_, *this),
      sincePump_(std::make_unique<QElapsedTimer>()) {
  setColumnCount(kColumnCount);
  QStringList titles;
  for (const ColumnInfo& c : kColumns) titles.append(Q(c.title));
  setHeaderLabels(titles);
  header()->setStretchLastSection(false);
  for (int c = 0; c < kColumnCount; ++c) {
    const ColumnInfo& info = kColumns[static_cast<std::size_t>(c)];
    if (info.width > 0) header()->resizeSection(c, info.width);
    headerItem()->setTextAlignment(c, (info.rightAligned ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  }
  setColumnHidden(ColumnResultName, true);
  setSelectionMode(QAbstractItemView::ExtendedSelection);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  setAlternatingRowColors(false);
  setUniformRowHeights(true);
  setRootIsDecorated(true);
  setIconSize(QSize(16, 16));
  setEditTriggers(QAbstractItemView::NoEditTriggers);
  setAcceptDrops(true);
  setDragDropMode(QAbstractItemView::DropOnly);
  viewport()->setAcceptDrops(true);
  header()->resizeSection(ColumnPath, std::max(100, InitialPathColumnWidth(viewport()->width())));

  connect(this, &QTreeWidget::itemSelectionChanged, this, &CKorvexProView::SyncSelectionFromTree);
  connect(this, &QTreeWidget::currentItemChanged, this, [this] { CurrentRowChanged(); });
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    if (syncing_) return;
    if (const auto ref = RefOf(item)) list_.Row(*ref).expanded = true;
  });
  connect(this, &QTreeWidget::itemCollapsed, this, [this](QTreeWidgetItem* item) {
    if (syncing_) return;
    if (const auto ref = RefOf(item)) list_.Row(*ref).expanded = false;
  });
}

CKorvexProView::~CKorvexProView() {
  // The list and the log must not call back into a half-destroyed view.
  list_.SetView(nullptr);
  log_.SetView(nullptr);
  if (busy_) qApp->removeEventFilter(this);
}

// -- Filling the list --

int CKorvexProView::AddLayerFile(const fs::path& path, std::optional<std::size_t> parent) {
  return list_.AddLayerFile(path, parent);
}

int CKorvexProView::AddProjectFile(const fs::path& path) { return list_.AddProjectFile(path); }

void CKorvexProView::AddPaths(const QStringList& paths) {
  for (const QString& text : paths) {
    const fs::path path = PathOf(text);
    if (KindOfPath(path) == RowKind::Project) {
      list_.AddProjectFile(path);
    } else {
      list_.AddLayerFile(path);
    }
  }
  viewport()->update();
  list_.UpdateQueueStatus();
}

bool CKorvexProView::SearchFolders(const QStringList& folders) {
  if (busy_ || folders.isEmpty()) return false;
  BusyScope busy(*this);
  setUpdatesEnabled(false);
  StatusInfoText(kSearchStartText);
  bool stopped = false;
  for (const QString& folder : folders) {
    if (ListAllFiles(list_, PathOf(folder), SearchOptions{true, false}, *this, log_) == 1) {
      stopped = true;
      break;
    }
  }
  setUpdatesEnabled(true);
  viewport()->update();
  list_.UpdateQueueStatus();
  return stopped;
}

// -- Commands --

void CKorvexProView::OnFileOpen() {
  if (busy_) return;
  const QStringList paths =
      prompts_.OpenFiles(this, QStringLiteral("添加文件"), QString::fromStdString(settings_.WorkPath), OpenFileFilter());
  if (!paths.isEmpty()) AddPaths(paths);
}

void CKorvexProView::OnFileFolder() {
  if (busy_) return;
  const QStringList folders = prompts_.ChooseFolders(this, QString::fromStdString(settings_.WorkPath));
  if (!folders.isEmpty()) SearchFolders(folders);
}

void CKorvexProView::OnSelectAll() { list_.SelectAll(); }
void CKorvexProView::OnSelectNone() { list_.SelectNone(); }
void CKorvexProView::OnInvertSelection() { list_.InvertSelection(); }

void CKorvexProView::OnRemoveSelected() {
  if (busy_) return;
  list_.RemoveSelected();
}

void CKorvexProView::OnClearAll() {
  if (busy_) return;
  list_.Clear();
  log_.Clear();
  ShowConversionInfo({});
  emit previewRequested({});
}

void CKorvexProView::OnExpandAll() { list_.ExpandAll(); }
void CKorvexProView::OnCollapseAll() { list_.CollapseAll(); }

void CKorvexProView::OnOpenLocation() {
  const std::optional<RowRef> first = list_.FirstSelected();
  if (!first) return;
  const std::string& path = list_.Row(*first).Path();
  std::error_code ec;
  if (fs::exists(fs::path(path), ec)) {
    prompts_.Reveal(PathText(path));
  } else {
    StatusInfoText("源文件不存在：" + path);
  }
}

void CKorvexProView::OnExportList() {
  const QString file = prompts_.SaveFile(this, QStringLiteral("输出列表"), QString::fromStdString(settings_.WorkPath),
                                         QStringLiteral("文本文件 (*.txt)"), QStringLiteral("txt"));
  if (file.isEmpty()) return;
  const OperationLog::SaveResult written = ExportList(list_, PathOf(file));
  if (written.ok) {
    prompts_.Message(this, Wendle::MessageIcon::Information, Q(kSaveDoneCaption), Q(kListExportedText));
  } else {
    prompts_.Message(this, Wendle::MessageIcon::Warning, Q(kAttentionCaption),
                     QStringLiteral("转换列表无法输出：") + QString::fromStdString(written.error));
  }
}

void CKorvexProView::OnSaveLog() {
  const QString file = prompts_.SaveFile(this, QStringLiteral("另存为"), QString::fromStdString(settings_.WorkPath),
                                         QStringLiteral("日志文件 (*.log)"), QStringLiteral("log"));
  if (file.isEmpty()) return;
  const OperationLog::SaveResult written = log_.Save(PathOf(file));
  if (written.ok) {
    prompts_.Message(this, Wendle::MessageIcon::Information, Q(kSaveDoneCaption), Q(kLogSavedText));
  } else {
    prompts_.Message(this, Wendle::MessageIcon::Warning, Q(kAttentionCaption),
                     QStringLiteral("转换日志无法输出：") + QString::fromStdString(written.error));
  }
}

void CKorvexProView::OnClearLog() { log_.Clear(); }

BatchSummary CKorvexProView::RunCommand(const BatchCommand& command) {
  if (busy_) return {};
  // The command's SymbolType stays set even when the batch does not start.
  settings_.SymbolType = command.symbolType;
  if (list_.Empty()) {
    prompts_.Message(this, Wendle::MessageIcon::Warning, Q(kAttentionCaption), Q(kEmptyListText));
    return {};
  }
  if (!prompts_.RunWizard(this, command, settings_)) return {};
  BusyScope busy(*this);
  rowsStarted_ = 0;
  return driver_.Run(command.mode);
}

// -- The tree --

QTreeWidgetItem* CKorvexProView::ItemOf(const RowRef& ref) const {
  QTreeWidgetItem* top = topLevelItem(static_cast<int>(ref.top));
  if (top == nullptr || !ref.child) return top;
  return top->child(static_cast<int>(*ref.child));
}

std::optional<RowRef> CKorvexProView::RefOf(const QTreeWidgetItem* item) const {
  if (item == nullptr) return std::nullopt;
  if (QTreeWidgetItem* parent = item->parent()) {
    const int top = indexOfTopLevelItem(parent);
    if (top < 0) return std::nullopt;
    return RowRef{static_cast<std::size_t>(top), static_cast<std::size_t>(parent->indexOfChild(const_cast<QTreeWidgetItem*>(item)))};
  }
  const int top = indexOfTopLevelItem(const_cast<QTreeWidgetItem*>(item));
  if (top < 0) return std::nullopt;
  return RowRef{static_cast<std::size_t>(top), std::nullopt};
}

QStringList CKorvexProView::OutputsOf(const RowRef& ref) const {
  QTreeWidgetItem* item = ItemOf(ref);
  if (item == nullptr) return {};
  QStringList bases = item->data(0, kOutputsRole).toStringList();
  if (!ref.child) {
    for (int i = 0; i < item->childCount(); ++i) bases += item->child(i)->data(0, kOutputsRole).toStringList();
  }
  return bases;
}

void CKorvexProView::SetContextActions(const QList<QAction*>& actions) { contextActions_ = actions; }

void CKorvexProView::Fill(QTreeWidgetItem* item, const FileRow& row) const {
  // Black rows take the theme's text colour; red and blue ones are drawn lighter on a dark theme.
  QBrush colour;
  if (row.colour != kRowBlack) {
    QColor c = RowColour(row.colour);
    if (palette().color(QPalette::Base).lightness() < 128) c = QColor::fromHsv(c.hue(), 150, 255);
    colour = QBrush(c);
  }
  for (int c = 0; c < kColumnCount; ++c) {
    item->setText(c, QString::fromStdString(row.cells[static_cast<std::size_t>(c)]));
    item->setForeground(c, colour);
    const bool right = kColumns[static_cast<std::size_t>(c)].rightAligned;
    item->setTextAlignment(c, (right ? Qt::AlignRight : Qt::AlignLeft) | Qt::AlignVCenter);
  }
  item->setToolTip(ColumnPath, item->text(ColumnPath));
}

void CKorvexProView::Refill(QTreeWidgetItem* item, const FileRow& row) const {
  Fill(item, row);
  // A row the last batch reset has no outputs to show any more.
  if (row.cells[ColumnResultName].find_first_not_of(' ') == std::string::npos) item->setData(0, kOutputsRole, {});
}

QTreeWidgetItem* CKorvexProView::MakeItem(const FileRow& row) const {
  auto* item = new QTreeWidgetItem;
  item->setIcon(0, RowKindIcon(row.kind));
  Fill(item, row);
  return item;
}

void CKorvexProView::Rebuild() {
  syncing_ = true;
  const std::optional<RowRef> current = RefOf(currentItem());
  const int scroll = verticalScrollBar() != nullptr ? verticalScrollBar()->value() : 0;
  // Outputs are kept by the items; a rebuild with the same shape keeps them.
  const std::vector<FileRow>& rows = list_.TopRows();
  bool sameShape = topLevelItemCount() == static_cast<int>(rows.size());
  for (std::size_t i = 0; sameShape && i < rows.size(); ++i)
    sameShape = topLevelItem(static_cast<int>(i))->childCount() == static_cast<int>(rows[i].children.size());
  if (!sameShape) {
    clear();
    for (const FileRow& top : rows) {
      QTreeWidgetItem* item = MakeItem(top);
      for (const FileRow& child : top.children) item->addChild(MakeItem(child));
      addTopLevelItem(item);
    }
  }
  for (std::size_t i = 0; i < rows.size(); ++i) {
    QTreeWidgetItem* item = topLevelItem(static_cast<int>(i));
    if (sameShape) Refill(item, rows[i]);
    item->setSelected(rows[i].selected);
    for (std::size_t j = 0; j < rows[i].children.size(); ++j) {
      QTreeWidgetItem* child = item->child(static_cast<int>(j));
      if (sameShape) Refill(child, rows[i].children[j]);
      child->setSelected(rows[i].children[j].selected);
    }
    item->setExpanded(rows[i].expanded);
  }
  if (current && ItemOf(*current) != nullptr) {
    setCurrentItem(ItemOf(*current), 0, QItemSelectionModel::NoUpdate);
  }
  if (verticalScrollBar() != nullptr) verticalScrollBar()->setValue(scroll);
  syncing_ = false;
}

void CKorvexProView::SyncSelectionFromTree() {
  if (syncing_) return;
  const std::vector<FileRow>& rows = list_.TopRows();
  for (std::size_t i = 0; i < rows.size(); ++i) {
    QTreeWidgetItem* item = topLevelItem(static_cast<int>(i));
    if (item == nullptr) break;
    list_.Select({i, std::nullopt}, item->isSelected());
    for (std::size_t j = 0; j < rows[i].children.size(); ++j) {
      QTreeWidgetItem* child = item->child(static_cast<int>(j));
      if (child != nullptr) list_.Select({i, j}, child->isSelected());
    }
  }
}

void CKorvexProView::CurrentRowChanged() {
  if (syncing_) return;
  const std::optional<RowRef> ref = RefOf(currentItem());
  if (!ref) {
    ShowConversionInfo({});
    emit previewRequested({});
    return;
  }
  driver_.ShowConversionLog(*ref);
  emit previewRequested(OutputsOf(*ref));
}

void CKorvexProView::FitPathColumn() {
  std::array<int, kColumnCount> widths{};
  for (int c = 0; c < kColumnCount; ++c) widths[static_cast<std::size_t>(c)] = isColumnHidden(c) ? 0 : columnWidth(c);
  header()->resizeSection(ColumnPath, std::max(100, PathColumnWidth(viewport()->width(), widths)));
}

void CKorvexProView::resizeEvent(QResizeEvent* event) {
  QTreeWidget::resizeEvent(event);
  FitPathColumn();
}

void CKorvexProView::contextMenuEvent(QContextMenuEvent* event) {
  if (contextActions_.isEmpty()) return;
  QMenu menu(QStringLiteral("编辑"), this);
  for (QAction* action : contextActions_) {
    if (action == nullptr) {
      menu.addSeparator();
    } else {
      menu.addAction(action);
    }
  }
  menu.exec(event->globalPos());
}

// -- Drops --

void CKorvexProView::dragEnterEvent(QDragEnterEvent* event) {
  if (!busy_ && event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void CKorvexProView::dragMoveEvent(QDragMoveEvent* event) {
  if (!busy_ && event->mimeData()->hasUrls()) {
    event->acceptProposedAction();
  } else {
    event->ignore();
  }
}

void CKorvexProView::dropEvent(QDropEvent* event) {
  if (busy_ || !event->mimeData()->hasUrls()) {
    event->ignore();
    return;
  }
  QStringList paths;
  for (const QUrl& url : event->mimeData()->urls()) {
    const QString path = url.toLocalFile();
    // A folder has no layer extension and adds nothing, as any other file would.
    if (path.isEmpty() || path.size() > kMaxDroppedPath) continue;
    paths.append(path);
  }
  event->acceptProposedAction();
  AddPaths(paths);
}

// -- Busy state and the event pump --

void CKorvexProView::SetBusy(bool busy) {
  if (busy == busy_) return;
  busy_ = busy;
  escapePressed_ = false;
  if (busy) {
    qApp->installEventFilter(this);
    sincePump_->start();
  } else {
    qApp->removeEventFilter(this);
    stopRequested_ = false;
  }
  emit busyChanged(busy);
}

bool CKorvexProView::eventFilter(QObject* watched, QEvent* event) {
  if (busy_ && event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
    escapePressed_ = true;
    return true;
  }
  return QTreeWidget::eventFilter(watched, event);
}

void CKorvexProView::PumpEvents() {
  if (sincePump_->isValid() && sincePump_->elapsed() < 25) return;
  QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  sincePump_->restart();
}

// -- BatchView --

void CKorvexProView::StatusProgressText(std::string_view text) { emit statusProgressChanged(Q(text)); }
void CKorvexProView::StatusInfoText(std::string_view text) { emit statusInfoChanged(Q(text)); }
void CKorvexProView::StatusProgressBar(int percent) { emit progressBarChanged(percent); }

void CKorvexProView::Progress(std::int64_t done, std::int64_t total) {
  BatchView::Progress(done, total);
  if (busy_) PumpEvents();
}

bool CKorvexProView::PollCancel() {
  QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  if (sincePump_->isValid()) sincePump_->restart();
  const bool asked = escapePressed_ || stopRequested_;
  escapePressed_ = false;
  return asked;
}

bool CKorvexProView::Ask(std::string_view caption, std::string_view text, bool defaultAnswer) {
  (void)defaultAnswer;
  // A closing window has given its answer already.
  if (stopRequested_) return true;
  return prompts_.Question(this, Q(caption), Q(text));
}

void CKorvexProView::Message(std::string_view caption, std::string_view text, MessageIcon icon) {
  prompts_.Message(this, BoxIcon(icon), Q(caption), Q(text));
}

void CKorvexProView::RowAdded(const FileList& list, const RowRef& ref) {
  syncing_ = true;
  QTreeWidgetItem* item = MakeItem(list.Row(ref));
  if (ref.child) {
    QTreeWidgetItem* parent = topLevelItem(static_cast<int>(ref.top));
    if (parent != nullptr) {
      parent->insertChild(static_cast<int>(*ref.child), item);
      parent->setExpanded(list.TopRows()[ref.top].expanded);
    } else {
      delete item;
    }
  } else {
    insertTopLevelItem(static_cast<int>(ref.top), item);
    item->setExpanded(list.Row(ref).expanded);
  }
  syncing_ = false;
}

void CKorvexProView::ListChanged(const FileList& list) {
  (void)list;
  Rebuild();
}

void CKorvexProView::RowStarted(const FileList& list, const RowRef& ref) {
  (void)list;
  if (QTreeWidgetItem* item = ItemOf(ref)) scrollToItem(item);
  viewport()->update();
  emit rowStarted(rowsStarted_++);
}

void CKorvexProView::RowOutputs(const FileList& list, const RowRef& ref, const std::vector<std::string>& names,
                                const std::string& geoPackage) {
  (void)list;
  QStringList bases;
  for (const std::string& name : names)
    bases.append(geoPackage.empty() ? PathText(name) : PathText(name) + QLatin1Char('\n') + PathText(geoPackage));
  if (QTreeWidgetItem* item = ItemOf(ref)) item->setData(0, kOutputsRole, bases);
}

void CKorvexProView::RowFinished(const FileList& list, const RowRef& ref, std::int32_t result) {
  (void)result;
  QTreeWidgetItem* item = ItemOf(ref);
  if (item == nullptr) return;
  syncing_ = true;
  Fill(item, list.Row(ref));
  syncing_ = false;
  // The row the user looks at shows its new log and outputs.
  if (currentItem() == item) CurrentRowChanged();
}

void CKorvexProView::OperationLogAdded(const OperationLogEntry& entry) {
  emit operationLogAdded(QString::fromStdString(entry.time), QString::fromStdString(entry.text));
}

void CKorvexProView::OperationLogCleared() { emit operationLogCleared(); }

void CKorvexProView::ShowConversionInfo(std::string_view text) { emit conversionInfoChanged(Q(text)); }

void CKorvexProView::RunFinished(const BatchSummary& summary) {
  const QString text = QString::fromStdString(summary.Text());
  emit runFinished(text);
  prompts_.Message(this, Wendle::MessageIcon::Information, Q(kSummaryCaption), text);
}

}  // namespace Kvx
