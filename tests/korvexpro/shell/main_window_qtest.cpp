// The desktop program's main window, end to end: the command bar, the file list filled through the
// add-files dialog, a drop and the folder search, batches run through their wizard, the status bar,
// the panes, Escape during a search and a batch, themes, window state and the updater.

#include <functional>
#include <memory>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QDockWidget>
#include <QFile>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>
#include <QUrl>

#include "batch/batch_driver.h"
#include "settings/settings.h"
#include "shell/about_dlg.h"
#include "support/layer_builder.h"
#include "support/recording_prompter.h"
#include "shell/command_bar.h"
#include "shell/korvexpro_app.h"
#include "shell/korvexpro_view.h"
#include "shell/main_frame.h"
#include "shell/output_wnd.h"
#include "shell/preview_pane.h"
#include "shell/theme_style.h"
#include "shell/window_themes.h"
#include "shell/wiz_shape_dlg.h"
#include "wendle/folder_edit.h"

using Kvx::CMainFrame;
using Kvx::CKorvexProView;

namespace {

const QString kExamples = QStringLiteral(KVX_EXAMPLES);

// Answers everything the window asks, records what it showed, and runs the real wizard, answering
// its pages: the colour library folder on the symbol page, the output folder on the export page.
class TestPrompts : public KvxTest::RecordingPrompterOf<Kvx::ShellPrompts> {
 public:
  QStringList OpenFiles(QWidget*, const QString&, const QString& folder, const QString& filter) override {
    openFolders.append(folder);
    filters.append(filter);
    return std::exchange(filesToOpen, {});
  }
  QString SaveFile(QWidget*, const QString&, const QString&, const QString& filter, const QString& suffix) override {
    saveFilters.append(filter + QStringLiteral("|") + suffix);
    return std::exchange(fileToSave, {});
  }
  QStringList ChooseFolders(QWidget*, const QString&) override { return std::exchange(foldersToSearch, {}); }
  bool RunWizard(QWidget* parent, const Kvx::BatchCommand& command, Kvx::Settings& settings) override {
    ++wizardRuns;
    if (!confirmWizard) {
      QTimer::singleShot(0, [] {
        if (QWidget* w = QApplication::activeModalWidget()) w->close();
      });
    } else {
      QTimer::singleShot(0, [this] { AnswerWizard(); });
    }
    return ShellPrompts::RunWizard(parent, command, settings);
  }
  void Reveal(const QString& file) override { revealed.append(file); }
  bool OpenUrl(const QUrl& url) override {
    urls.append(url.toString());
    return true;
  }

  int Count(const QString& text) const { return static_cast<int>(Texts().count(text)); }

  QStringList filesToOpen, openFolders, filters;
  QString fileToSave;
  QStringList saveFilters;
  QStringList foldersToSearch;
  QStringList revealed;
  QStringList urls;
  QStringList wizardPages;  // the titles of the pages the wizard showed
  QString library, output;
  int format = -1;  // the export page's format choice (-1: as stored)
  bool confirmWizard = true;
  int wizardRuns = 0;

 private:
  void AnswerWizard() {
    auto* wizard = qobject_cast<Kvx::CWizShapeDlg*>(QApplication::activeModalWidget());
    if (wizard == nullptr) {
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
      return;
    }
    for (int step = 0; step < 4; ++step) {
      Wendle::CNewWizPage* page = wizard->GetPage(wizard->GetActiveIndex());
      wizardPages.append(page->Title());
      if (auto* symbol = qobject_cast<Kvx::CPageSymbol*>(page)) symbol->LibraryBox()->SetText(library);
      if (auto* exportPage = qobject_cast<Kvx::CPageExport*>(page)) {
        exportPage->ToFolder()->setChecked(true);
        exportPage->FolderBox()->SetText(output);
        if (format >= 0) exportPage->Format(format)->setChecked(true);
        wizard->Button(Wendle::CNewWizDialog::kFinishId)->click();
        return;
      }
      wizard->Button(Wendle::CNewWizDialog::kNextId)->click();
    }
    wizard->reject();
  }
};

const Kvx::BatchCommand& Command(const char* name) { return *Kvx::FindBatchCommand(name); }

QStringList Column(const QTreeWidget& tree, int column) {
  QStringList texts;
  for (int i = 0; i < tree.topLevelItemCount(); ++i) {
    const QTreeWidgetItem* top = tree.topLevelItem(i);
    texts.append(top->text(column));
    for (int j = 0; j < top->childCount(); ++j) texts.append(top->child(j)->text(column));
  }
  return texts;
}

QList<QTreeWidgetItem*> Items(const QTreeWidget& tree) {
  QList<QTreeWidgetItem*> items;
  for (int i = 0; i < tree.topLevelItemCount(); ++i) {
    items.append(tree.topLevelItem(i));
    for (int j = 0; j < tree.topLevelItem(i)->childCount(); ++j) items.append(tree.topLevelItem(i)->child(j));
  }
  return items;
}

QStringList LogTexts(const Kvx::COutputList& list) {
  QStringList texts;
  for (int r = 0; r < list.rowCount(); ++r) texts.append(list.item(r, 1)->text());
  return texts;
}

// Every file under `root` but the conversion logs, by relative path, with its bytes.
QMap<QString, QByteArray> OutputFiles(const QString& root) {
  QMap<QString, QByteArray> files;
  QDirIterator it(root, QDir::Files, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    if (path.endsWith(QStringLiteral(".log"))) continue;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly)) files.insert(QDir(root).relativeFilePath(path), file.readAll());
  }
  return files;
}

QByteArray ReadAll(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init();
  void cleanup();

  void titleStatusBarAndPanes();
  void commandBarLayout_data();
  void commandBarLayout();
  void applicationMenuAndContextMenu();
  void addFilesDialogAndDrop();
  void conversionThroughWizard_data();
  void conversionThroughWizard();
  void outputsEqualCommandLine_data();
  void outputsEqualCommandLine();
  void emptyListAndCancelledWizard();
  void escapeDuringBatch_data();
  void escapeDuringBatch();
  void busyWindowDisablesListCommands();
  void closingDuringBatchStopsAfterRow();
  void searchStopsAtMaxFiles();
  void escapeStopsSearch();
  void selectionAndListCommands();
  void clearAllEmptiesBothPanes();
  void logPaneClearAndSave();
  void exportList();
  void panesToggleAndRestore();
  void themesRestyleAndAreStored_data();
  void themesRestyleAndAreStored();
  void windowStateRestoredAtNextStart();
  void updater();
  void webCommandsAndAbout();
  void guiArguments_data();
  void guiArguments();
  void startupPathsQueued();
  void previewDrawsGeoPackageTables();
  void longConversionKeepsEventsFlowing();
  void programSavesSettingsAtExit();

 private:
  std::unique_ptr<CMainFrame> MakeFrame(const QString& stateFile = QString());
  // The demo project and its layers copied into a folder with a Chinese name.
  QString DemoProject() const { return data_.filePath(QStringLiteral("数据 demo/geology.mpj")); }
  Kvx::BatchSummary RunThroughWizard(CMainFrame& frame, int commandId);

  std::unique_ptr<QTemporaryDir> temp_;
  QDir data_;
  QString output_;
  std::filesystem::path config_;
  std::unique_ptr<TestPrompts> prompts_;
};

void MainWindowTest::init() {
  temp_ = std::make_unique<QTemporaryDir>();
  QVERIFY(temp_->isValid());
  data_ = QDir(temp_->path());
  const QString demo = data_.filePath(QStringLiteral("数据 demo"));
  QVERIFY(QDir().mkpath(demo));
  for (const char* name : {"geology.mpj", "geology.wp", "roads.wl", "sites.wt", "pipes.wn", "wells.wb", "Pcolor.lib"}) {
    QVERIFY(QFile::copy(kExamples + QLatin1Char('/') + QLatin1String(name), demo + QLatin1Char('/') + QLatin1String(name)));
  }
  output_ = data_.filePath(QStringLiteral("成果"));
  QVERIFY(QDir().mkpath(output_));
  config_ = std::filesystem::path(data_.filePath(QStringLiteral("settings.ini")).toStdString());
  Kvx::LoadSettings(Kvx::AppSettings(), config_);
  Kvx::AppSettings().Jobs = 1;
  prompts_ = std::make_unique<TestPrompts>();
  prompts_->library = demo;
  prompts_->output = output_;
}

void MainWindowTest::cleanup() {
  prompts_.reset();
  temp_.reset();
  QApplication::setPalette(QPalette());
}

std::unique_ptr<CMainFrame> MainWindowTest::MakeFrame(const QString& stateFile) {
  auto frame = std::make_unique<CMainFrame>(Kvx::AppSettings(), *prompts_, config_, stateFile);
  frame->resize(1100, 700);
  frame->show();
  QApplication::processEvents();
  return frame;
}

Kvx::BatchSummary MainWindowTest::RunThroughWizard(CMainFrame& frame, int commandId) {
  Kvx::BatchSummary summary;
  for (const Kvx::BatchCommand& c : Kvx::BatchCommands()) {
    if (c.id == commandId) summary = frame.View()->RunCommand(c);
  }
  return summary;
}

void MainWindowTest::titleStatusBarAndPanes() {
  QCOMPARE(Kvx::MainWindowTitle(QStringLiteral("8.0.0.0")), QStringLiteral("KorvexPro 格式转换工具 (V8.0.0.0)"));
  auto frame = MakeFrame();
  QCOMPARE(frame->windowTitle(), QStringLiteral("KorvexPro 格式转换工具 (V%1)").arg(Kvx::ProductVersion()));
  QCOMPARE(Kvx::ProductVersion().split(QLatin1Char('.')).size(), 4);

  QCOMPARE(frame->StatusInfo()->text(), QStringLiteral("就绪"));
  QCOMPARE(frame->StatusProgress()->text(), QStringLiteral("进度: [0/0] "));
  const QFontMetrics metrics(frame->StatusProgress()->font());
  QVERIFY(frame->StatusProgress()->minimumWidth() >= metrics.horizontalAdvance(QStringLiteral("进度: [99999/99999] ")));
  QCOMPARE(frame->StatusBar()->size(), QSize(200, 22));
  QCOMPARE(frame->StatusBar()->minimum(), 0);
  QCOMPARE(frame->StatusBar()->maximum(), 100);
  QVERIFY(frame->StatusLink()->text().contains(QString::fromUtf8(Kvx::kWebHomeUrl)));
  // Left to right: information, progress text, bar, link.
  QVERIFY(frame->StatusInfo()->x() < frame->StatusProgress()->x());
  QVERIFY(frame->StatusProgress()->x() < frame->StatusBar()->x());
  QVERIFY(frame->StatusBar()->x() < frame->StatusLink()->x());

  QCOMPARE(frame->InfoDock()->windowTitle(), QStringLiteral("转换信息"));
  QCOMPARE(frame->OutputDock()->windowTitle(), QStringLiteral("输出"));
  QCOMPARE(frame->dockWidgetArea(frame->InfoDock()), Qt::BottomDockWidgetArea);
  QCOMPARE(frame->dockWidgetArea(frame->OutputDock()), Qt::BottomDockWidgetArea);
  QCOMPARE(frame->OutputWnd()->Tabs()->tabText(0), QStringLiteral("操作日志 "));
  Kvx::COutputList* log = frame->OutputWnd()->List();
  QCOMPARE(log->horizontalHeaderItem(0)->text(), QStringLiteral("时间"));
  QCOMPARE(log->horizontalHeaderItem(1)->text(), QStringLiteral("操作"));
  QCOMPARE(log->columnWidth(0), 120);
  QVERIFY(log->showGrid());
  QVERIFY(frame->InfoPane()->isReadOnly());

  // The list's six columns.
  CKorvexProView* view = frame->View();
  QCOMPARE(view->columnCount(), 6);
  const QStringList titles = {"文件名称", "文件路径", "大小", "输出内容", "执行结果", "结果名称"};
  for (int c = 0; c < 6; ++c) QCOMPARE(view->headerItem()->text(c), titles[c]);
  QCOMPARE(view->columnWidth(0), 180);
  QCOMPARE(view->columnWidth(2), 60);
  QCOMPARE(view->columnWidth(3), 80);
  QCOMPARE(view->columnWidth(4), 80);
  QVERIFY(view->isColumnHidden(5));
}

void MainWindowTest::commandBarLayout_data() {
  QTest::addColumn<int>("tab");
  QTest::addColumn<QString>("title");
  QTest::addColumn<QStringList>("panels");  // "panel: command, command, |, command"
  QTest::newRow("view") << 0 << "视图(&V)"
                        << QStringList{"添加文件: 选择目录, 添加文件",
                                       "转换列表: 全部选择, 取消选择, 移除选择, 清空文件, 输出列表",
                                       "系统设置: 高级设置, 转换信息, 操作日志, 恢复窗口, 预览窗口"};
  QTest::newRow("convert") << 1 << "转换(&C)"
                           << QStringList{"纯数据转换: 点要素, 线要素, 面要素, |, 全要素输出",
                                          "特殊对象转换: 文字转换, 输出弧段, 网络结点, 输出属性",
                                          "含制图信息转换: 图例转属性, 图例编码, 生成AVL图例"};
  QTest::newRow("help") << 2 << "帮助(&H)"
                        << QStringList{"在线支持: 官方网站, 软件教程, 在线帮助", "关于: 检查更新, 关于"};
}

void MainWindowTest::commandBarLayout() {
  QFETCH(int, tab);
  QFETCH(QString, title);
  QFETCH(QStringList, panels);
  auto frame = MakeFrame();
  Kvx::CCommandBar* bar = frame->CommandBar();
  QCOMPARE(bar->TabTitles().size(), 3);
  QCOMPARE(bar->TabTitles()[tab], title);
  QStringList shown;
  for (const Kvx::CCommandBar::Panel& panel : bar->Panels(tab)) {
    QStringList commands;
    for (QAction* a : panel.actions) {
      commands.append(a == nullptr ? QStringLiteral("|") : a->text());
      if (a == nullptr) continue;
      QVERIFY2(!a->icon().isNull(), qPrintable(a->text()));
      QVERIFY2(bar->ButtonOf(a) != nullptr, qPrintable(a->text()));
    }
    shown.append(panel.title + QStringLiteral(": ") + commands.join(QStringLiteral(", ")));
  }
  QCOMPARE(shown, panels);

  // The batch commands' tool tips: the short name over the description of their text.
  for (const Kvx::BatchCommand& c : Kvx::BatchCommands()) {
    const QString text = QString::fromUtf8(c.text.data(), c.text.size());
    QAction* action = frame->Action(c.id);
    QVERIFY(action != nullptr);
    QCOMPARE(action->toolTip(), Kvx::ToolTipOf(text));
    QVERIFY(action->toolTip().contains(Kvx::TipLabel(text)));
    QVERIFY(action->toolTip().contains(Kvx::TipDescription(text)));
  }
  QCOMPARE(Kvx::TipDescription(QStringLiteral("批量转换所有点图层文件\n转换点文件")), QStringLiteral("批量转换所有点图层文件"));
  QCOMPARE(Kvx::TipLabel(QStringLiteral("批量转换所有点图层文件\n转换点文件")), QStringLiteral("转换点文件"));
  QCOMPARE(frame->Action(Kvx::ID_BTN_LOGWIN)->toolTip(), Kvx::ToolTipOf(QStringLiteral("打开\\关闭操作日志窗口\n操作日志窗口")));

  // Alt and the tab's letter open it.
  bar->Tabs()->setCurrentIndex(tab == 0 ? 1 : 0);
  const Qt::Key key = tab == 0 ? Qt::Key_V : tab == 1 ? Qt::Key_C : Qt::Key_H;
  QTest::keyClick(frame.get(), key, Qt::AltModifier);
  QCOMPARE(bar->Tabs()->currentIndex(), tab);
}

void MainWindowTest::applicationMenuAndContextMenu() {
  auto frame = MakeFrame();
  QCOMPARE(frame->CommandBar()->ApplicationButton()->text(), QStringLiteral("文件"));
  QStringList menu;
  for (QAction* a : frame->ApplicationMenu()->actions()) menu.append(a->isSeparator() ? QStringLiteral("|") : a->text());
  QCOMPARE(menu, (QStringList{"选择目录", "添加文件(&O)...", "全要素输出", "|", "检查更新", "关于", "|", "退出(&X)"}));
  QCOMPARE(frame->CommandBar()->CornerButton()->defaultAction(), frame->Action(Kvx::ID_APP_ABOUT));

  // "添加文件(&O)..." of the menu runs the add-files command.
  prompts_->filesToOpen = {data_.filePath(QStringLiteral("数据 demo/roads.wl"))};
  frame->ApplicationMenu()->actions()[1]->trigger();
  QCOMPARE(frame->View()->topLevelItemCount(), 1);
}

void MainWindowTest::addFilesDialogAndDrop() {
  auto frame = MakeFrame();
  CKorvexProView* view = frame->View();
  Kvx::AppSettings().WorkPath = data_.path().toStdString();

  // The dialog: a project brings its layers, a layer file comes alone, in the dialog's order.
  prompts_->filesToOpen = {DemoProject(), data_.filePath(QStringLiteral("数据 demo/sites.wt"))};
  frame->Trigger(Kvx::ID_FILE_OPEN);
  QCOMPARE(prompts_->openFolders, QStringList{data_.path()});
  QCOMPARE(prompts_->filters.constFirst(), Kvx::OpenFileFilter());
  QVERIFY(Kvx::OpenFileFilter().startsWith(QStringLiteral("MapGis工程文件 (*.mpj *.MPJ);;")));
  QVERIFY(Kvx::OpenFileFilter().contains(QStringLiteral("MapGis图层文件 (*.wt *.WT *.wl *.WL *.wp *.WP *.wn *.WN *.wb *.WB)")));
  QCOMPARE(Kvx::OpenFileFilter().split(QStringLiteral(";;")).size(), 7);

  QCOMPARE(Column(*view, 0), (QStringList{"geology.mpj", "roads.wl", "sites.wt", "geology.wp", "pipes.wn", "wells.wb", "sites.wt"}));
  QCOMPARE(view->topLevelItemCount(), 2);
  QVERIFY(view->topLevelItem(0)->isExpanded());
  QCOMPARE(view->topLevelItem(0)->text(1), DemoProject());
  const QList<QTreeWidgetItem*> items = Items(*view);
  for (QTreeWidgetItem* item : items) {
    QVERIFY(!item->icon(0).isNull());
    QVERIFY(item->text(2).endsWith(QStringLiteral("KB")));
    for (int c : {3, 4, 5}) QCOMPARE(item->text(c), QStringLiteral(" "));
    QVERIFY(item->textAlignment(2) & Qt::AlignRight);
    QVERIFY(item->textAlignment(3) & Qt::AlignRight);
    QVERIFY(item->textAlignment(4) & Qt::AlignLeft);
  }
  QCOMPARE(frame->StatusProgress()->text(), QStringLiteral("进度：[0/7]"));
  QCOMPARE(frame->StatusInfo()->text(), QStringLiteral("当前共有7个待转换文件！"));

  // A drop: layer files are queued (the same path twice gives two rows); a folder and a file of
  // another kind add nothing; a missing file is queued with 0KB.
  QMimeData mime;
  mime.setUrls({QUrl::fromLocalFile(data_.filePath(QStringLiteral("数据 demo/roads.wl"))),
                QUrl::fromLocalFile(data_.filePath(QStringLiteral("数据 demo"))),
                QUrl::fromLocalFile(data_.filePath(QStringLiteral("数据 demo/Pcolor.lib"))),
                QUrl::fromLocalFile(data_.filePath(QStringLiteral("lost.WP"))),
                QUrl::fromLocalFile(data_.filePath(QStringLiteral("数据 demo/roads.wl")))});
  const QPoint at = view->viewport()->rect().center();
  QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &enter);
  QVERIFY(enter.isAccepted());
  QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(view->viewport(), &drop);
  QCOMPARE(view->topLevelItemCount(), 5);
  QCOMPARE(Column(*view, 0).mid(7), (QStringList{"roads.wl", "lost.WP", "roads.wl"}));
  QCOMPARE(view->topLevelItem(3)->text(2), QStringLiteral("0KB"));
  QCOMPARE(frame->StatusInfo()->text(), QStringLiteral("当前共有10个待转换文件！"));
  QCOMPARE(view->List().RowCount(), std::size_t{10});
}

void MainWindowTest::conversionThroughWizard_data() {
  QTest::addColumn<int>("command");
  QTest::addColumn<QStringList>("pages");
  QTest::addColumn<QStringList>("content");  // column 3 of every row, in list order
  QTest::addColumn<QString>("legendFile");   // a file the run must write ("" none)
  QTest::addColumn<int>("jobs");
  for (int jobs : {1, 3}) {
    const QByteArray suffix = " -j" + QByteArray::number(jobs);
    QTest::newRow(QByteArray("全要素输出" + suffix).constData())
        << 32879 << QStringList{"空间参考输出方式", "输出设置"}
        << QStringList{"图层索引", "基本要素", "基本要素", "基本要素", "基本要素", "基本要素", " "} << QString() << jobs;
    QTest::newRow(QByteArray("生成AVL图例" + suffix).constData())
        << 32894 << QStringList{"空间参考输出方式", "MapGIS系统库", "输出设置"}
        << QStringList{"索引", "要素", "要素+文字", "要素", "要素", "要素", " "} << QStringLiteral("geology/geology_P0.avl")
        << jobs;
  }
}

void MainWindowTest::conversionThroughWizard() {
  QFETCH(int, command);
  QFETCH(QStringList, pages);
  QFETCH(QStringList, content);
  QFETCH(QString, legendFile);
  QFETCH(int, jobs);
  Kvx::AppSettings().Jobs = jobs;
  auto frame = MakeFrame();
  CKorvexProView* view = frame->View();
  view->AddPaths({DemoProject(), data_.filePath(QStringLiteral("missing.wl"))});

  const Kvx::BatchSummary summary = RunThroughWizard(*frame, command);
  QCOMPARE(prompts_->wizardRuns, 1);
  QCOMPARE(prompts_->wizardPages, pages);
  QVERIFY(summary.started);
  QCOMPARE(summary.counts.succeeded, 6);
  QCOMPARE(summary.counts.missing, 1);

  // Rows: texts, colours, and the output name in the hidden column 5.
  QCOMPARE(Column(*view, 3), content);
  QCOMPARE(Column(*view, 4), (QStringList{"成功", "成功", "成功", "成功", "成功", "成功", ""}));
  const QList<QTreeWidgetItem*> items = Items(*view);
  for (int i = 0; i < 6; ++i) {
    QCOMPARE(items[i]->foreground(0).style(), Qt::NoBrush);  // black: the theme's text colour
    QVERIFY2(items[i]->text(5).startsWith(output_ + QStringLiteral("/geology/")), qPrintable(items[i]->text(5)));
  }
  QCOMPARE(items[6]->foreground(0).color(), QColor(255, 0, 0));
  QCOMPARE(items[1]->text(5), output_ + QStringLiteral("/geology/roads"));
  QVERIFY(QFile::exists(output_ + QStringLiteral("/geology/roads.shp")));
  if (!legendFile.isEmpty()) QVERIFY2(QFile::exists(output_ + QLatin1Char('/') + legendFile), qPrintable(legendFile));

  // Status bar and the summary box.
  const QString text = QStringLiteral("转换完成：6个成功,0个空文件,0个跳过,0个失败");
  QCOMPARE(frame->StatusInfo()->text(), text);
  QCOMPARE(frame->StatusProgress()->text(), QStringLiteral("进度：[7/7]"));
  QCOMPARE(frame->StatusBar()->value(), 0);
  QCOMPARE(prompts_->messages.constLast().caption, QStringLiteral("转换完成"));
  QCOMPARE(prompts_->messages.constLast().text, text);

  // The operation-log pane holds the run's log, rows of time and ">" message.
  const Kvx::COutputList& log = *frame->OutputWnd()->List();
  QCOMPARE(log.rowCount(), static_cast<int>(view->Log().Entries().size()));
  const QStringList lines = LogTexts(log);
  QCOMPARE(lines.count(QStringLiteral(">转换成功，请查看信息窗口了解转换详情")), 6);
  QVERIFY(lines.contains(QStringLiteral(">====开始转换[%1]").arg(DemoProject())));
  QVERIFY(lines.contains(QStringLiteral(">待转换文件不存在")));
  QVERIFY(QRegularExpression(QStringLiteral("^\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d:\\d\\d$")).match(log.item(0, 0)->text()).hasMatch());

  // Selecting the region row: its conversion log in the information pane, its map in the preview.
  view->setCurrentItem(items[3]);
  QVERIFY(frame->InfoPane()->toPlainText().contains(QStringLiteral("I__")));
  QCOMPARE(frame->InfoPane()->toPlainText(),
           QString::fromStdString(Kvx::ConversionLogText(items[3]->text(5).toStdString())).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
  QVERIFY(frame->Preview()->FeatureCount() > 0);
  // The missing row has no log and nothing to draw.
  view->setCurrentItem(items[6]);
  QCOMPARE(frame->InfoPane()->toPlainText(), QString());
  QCOMPARE(frame->Preview()->FeatureCount(), 0);
  // The project row draws every layer it was converted to.
  view->setCurrentItem(items[0]);
  QVERIFY(frame->Preview()->FeatureCount() > 0);
}

void MainWindowTest::outputsEqualCommandLine_data() {
  QTest::addColumn<int>("command");
  QTest::addColumn<QString>("mode");
  QTest::newRow("quick") << 32879 << "quick";
  QTest::newRow("avl") << 32894 << "avl";
  QTest::newRow("labels") << 32880 << "labels";
}

void MainWindowTest::outputsEqualCommandLine() {
  QFETCH(int, command);
  QFETCH(QString, mode);
  QVERIFY(Kvx::FindBatchCommand(mode.toStdString()) != nullptr);
  auto frame = MakeFrame();
  const QStringList paths = {DemoProject(), data_.filePath(QStringLiteral("数据 demo/sites.wt"))};
  frame->View()->AddPaths(paths);
  QVERIFY(RunThroughWizard(*frame, command).started);

  // The same list and mode through the command line, with the settings the wizard stored.
  const QString cliOut = data_.filePath(QStringLiteral("命令行"));
  QVERIFY(QDir().mkpath(cliOut));
  const std::filesystem::path cliConfig = (data_.filePath(QStringLiteral("cli.ini"))).toStdString();
  QVERIFY(Kvx::SaveSettings(Kvx::AppSettings(), cliConfig).ok);
  QProcess cli;
  cli.start(QStringLiteral(KVX_PROGRAM), QStringList{"--config", QString::fromStdString(cliConfig.string()), "convert", "-q",
                                                    "--mode", mode, "-o", cliOut} + paths);
  QVERIFY(cli.waitForFinished(60000));
  QCOMPARE(cli.exitCode(), 0);

  const QMap<QString, QByteArray> gui = OutputFiles(output_);
  const QMap<QString, QByteArray> line = OutputFiles(cliOut);
  QVERIFY(gui.size() > 5);
  QCOMPARE(gui.keys(), line.keys());
  for (auto it = gui.cbegin(); it != gui.cend(); ++it) QVERIFY2(it.value() == line.value(it.key()), qPrintable(it.key()));
}

void MainWindowTest::emptyListAndCancelledWizard() {
  auto frame = MakeFrame();
  Kvx::AppSettings().SymbolType = 0;
  frame->Trigger(32894);
  QCOMPARE(prompts_->Texts(), QStringList{"待转换文件列表为空，请先添加文件!"});
  QCOMPARE(prompts_->messages[0].caption, QStringLiteral("注意"));
  QCOMPARE(prompts_->wizardRuns, 0);
  QCOMPARE(Kvx::AppSettings().SymbolType, 4);  // set even though nothing ran

  // A wizard left with "取消" starts nothing.
  frame->View()->AddPaths({DemoProject()});
  prompts_->confirmWizard = false;
  frame->Trigger(32879);
  QCOMPARE(prompts_->wizardRuns, 1);
  QCOMPARE(Column(*frame->View(), 4), QStringList(6, QStringLiteral(" ")));
  QCOMPARE(frame->OutputWnd()->List()->rowCount(), 0);
}

void MainWindowTest::escapeDuringBatch_data() {
  QTest::addColumn<bool>("stop");
  QTest::addColumn<int>("jobs");
  QTest::newRow("No converts every row") << false << 1;
  QTest::newRow("Yes stops before the next row") << true << 1;
  QTest::newRow("No converts every row, -j3") << false << 3;
  QTest::newRow("Yes stops before the next row, -j3") << true << 3;
}

void MainWindowTest::escapeDuringBatch() {
  QFETCH(bool, stop);
  QFETCH(int, jobs);
  Kvx::AppSettings().Jobs = jobs;
  auto frame = MakeFrame();
  CKorvexProView* view = frame->View();
  view->AddPaths({DemoProject()});
  // Escape while the second row starts.
  QObject::connect(view, &CKorvexProView::rowStarted, view, [view](int processed) {
    if (processed == 1) QCoreApplication::postEvent(view, new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
  });
  prompts_->answers = {stop};
  const Kvx::BatchSummary summary = RunThroughWizard(*frame, 32879);
  QCOMPARE(prompts_->questions, QStringList{"取消转换|确定要取消当前转换？"});
  QCOMPARE(summary.cancelled, stop);
  const QStringList results = Column(*view, 4);
  if (stop) {
    // The project row (its layer index) was done; its layers were not started.
    QCOMPARE(results, (QStringList{"成功", " ", " ", " ", " ", " "}));
    QVERIFY(LogTexts(*frame->OutputWnd()->List()).contains(QStringLiteral(">用户中断了本次转换")));
  } else {
    QCOMPARE(results, QStringList(6, QStringLiteral("成功")));
  }
  // The summary box comes either way.
  QCOMPARE(prompts_->messages.constLast().caption, QStringLiteral("转换完成"));
}

void MainWindowTest::busyWindowDisablesListCommands() {
  auto frame = MakeFrame();
  CKorvexProView* view = frame->View();
  view->AddPaths({DemoProject()});
  QStringList seen;
  QObject::connect(view, &CKorvexProView::rowStarted, view, [&](int processed) {
    if (processed != 2) return;
    for (int id : {int(Kvx::ID_FILE_OPEN), int(Kvx::ID_FILE_FLD), int(Kvx::ID_EDIT_CLEAR_ALL), int(Kvx::ID_EDIT_SELDEL),
                   32879, 32894, int(Kvx::ID_BTN_LOGWIN), int(Kvx::ID_APP_ABOUT)})
      seen.append(QStringLiteral("%1:%2").arg(id).arg(frame->Action(id)->isEnabled()));
    // A drop during the batch is refused; so is a second batch.
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(data_.filePath(QStringLiteral("数据 demo/roads.wl")))});
    QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view->viewport(), &enter);
    seen.append(QStringLiteral("drop:%1").arg(enter.isAccepted()));
    seen.append(QStringLiteral("again:%1").arg(view->RunCommand(Command("quick")).started));
  });
  RunThroughWizard(*frame, 32879);
  QCOMPARE(seen, (QStringList{"57601:0", "32792:0", "57633:0", "32782:0", "32879:0", "32894:0", "32877:1", "57664:1",
                              "drop:0", "again:0"}));
  QVERIFY(frame->Action(Kvx::ID_FILE_OPEN)->isEnabled());
  QVERIFY(frame->Action(32879)->isEnabled());
  QCOMPARE(view->topLevelItemCount(), 1);
}

void MainWindowTest::closingDuringBatchStopsAfterRow() {
  auto frame = MakeFrame();
  CKorvexProView* view = frame->View();
  view->AddPaths({DemoProject()});
  prompts_->answers = {true};
  QObject::connect(view, &CKorvexProView::rowStarted, view, [&](int processed) {
    // Closed while the second row is about to start: the first is done, no further one starts.
    if (processed == 1) QTimer::singleShot(0, frame.get(), [&] { frame->close(); });
  });
  RunThroughWizard(*frame, 32879);
  QCOMPARE(prompts_->questions.size(), 1);
  QVERIFY(prompts_->questions[0].startsWith(QStringLiteral("退出|")));
  QCOMPARE(Column(*view, 4), (QStringList{"成功", " ", " ", " ", " ", " "}));
  QTRY_VERIFY(!frame->isVisible());
}

void MainWindowTest::searchStopsAtMaxFiles() {
  // Fifteen projects of one row each (their layers cannot be listed) and layer files, which the
  // search does not add.
  const QString folder = data_.filePath(QStringLiteral("搜索"));
  QVERIFY(QDir().mkpath(folder + QStringLiteral("/下级")));
  for (int i = 0; i < 15; ++i) {
    QFile file(folder + QStringLiteral("/%1p%2.mpj").arg(i < 8 ? QString() : QStringLiteral("下级/")).arg(i, 2, 10, QLatin1Char('0')));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("not a project");
  }
  QVERIFY(QFile::copy(data_.filePath(QStringLiteral("数据 demo/roads.wl")), folder + QStringLiteral("/roads.wl")));
  Kvx::AppSettings().MaxFiles = 10;
  auto frame = MakeFrame();
  prompts_->foldersToSearch = {folder, data_.filePath(QStringLiteral("数据 demo"))};
  frame->Trigger(Kvx::ID_FILE_FLD);
  QCOMPARE(frame->View()->List().RowCount(), std::size_t{11});
  QCOMPARE(frame->View()->topLevelItemCount(), 11);
  QCOMPARE(prompts_->Count(QStringLiteral("待转换文件数量过多，停止当前搜索过程！")), 1);
  QCOMPARE(prompts_->messages[0].caption, QStringLiteral("停止搜索"));
  QVERIFY(LogTexts(*frame->OutputWnd()->List()).contains(QStringLiteral(">待转换文件数量过多，停止搜索")));
  QCOMPARE(frame->StatusInfo()->text(), QStringLiteral("当前共有11个待转换文件！"));
  QVERIFY(frame->View()->updatesEnabled());
}

void MainWindowTest::escapeStopsSearch() {
  auto frame = MakeFrame();
  // Answered No: the search goes on and finds the project; answered Yes: it stops at once.
  for (bool stop : {false, true}) {
    frame->View()->OnClearAll();
    prompts_->questions.clear();
    prompts_->answers = {stop};
    prompts_->foldersToSearch = {data_.filePath(QStringLiteral("数据 demo"))};
    QCoreApplication::postEvent(frame->View(), new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    frame->Trigger(Kvx::ID_FILE_FLD);
    QCOMPARE(prompts_->questions, QStringList{"停止搜索|确定要停止当前搜索过程？"});
    QCOMPARE(frame->View()->topLevelItemCount(), stop ? 0 : 1);
    QCOMPARE(LogTexts(*frame->OutputWnd()->List()).contains(QStringLiteral(">用户中断了本次搜索")), stop);
  }
}

void MainWindowTest::selectionAndListCommands() {
  auto frame = MakeFrame();
  CKorvexProView* view = frame->View();
  view->AddPaths({DemoProject(), data_.filePath(QStringLiteral("数据 demo/roads.wl"))});

  frame->Trigger(Kvx::ID_EDIT_SELALL);
  QCOMPARE(view->selectedItems().size(), 7);
  frame->Trigger(Kvx::ID_EDIT_SELNONE);
  QCOMPARE(view->selectedItems().size(), 0);

  // The user's own selection reaches the list: removing a selected layer row keeps its project.
  view->topLevelItem(0)->child(1)->setSelected(true);
  frame->Trigger(Kvx::ID_EDIT_SELDEL);
  QCOMPARE(Column(*view, 0), (QStringList{"geology.mpj", "roads.wl", "geology.wp", "pipes.wn", "wells.wb", "roads.wl"}));
  QCOMPARE(frame->StatusInfo()->text(), QStringLiteral("当前共有6个待转换文件！"));
  frame->Trigger(Kvx::ID_EDIT_SELINVERT);
  QCOMPARE(view->selectedItems().size(), 6);
  frame->Trigger(Kvx::ID_EDIT_SELNONE);

  frame->Trigger(Kvx::ID_EDIT_COLLAPSE);
  QVERIFY(!view->topLevelItem(0)->isExpanded());
  frame->Trigger(Kvx::ID_EDIT_EXPAND);
  QVERIFY(view->topLevelItem(0)->isExpanded());
  // Collapsing by hand is kept by the list.
  view->collapseItem(view->topLevelItem(0));
  QVERIFY(!view->List().TopRows()[0].expanded);

  // 打开源文件位置: the first selected row's file, when it exists.
  view->topLevelItem(1)->setSelected(true);
  frame->Trigger(Kvx::ID_EDIT_OPENLOCATION);
  QCOMPARE(prompts_->revealed, QStringList{data_.filePath(QStringLiteral("数据 demo/roads.wl"))});
  QFile::remove(data_.filePath(QStringLiteral("数据 demo/roads.wl")));
  frame->Trigger(Kvx::ID_EDIT_OPENLOCATION);
  QCOMPARE(prompts_->revealed.size(), 1);
}

void MainWindowTest::clearAllEmptiesBothPanes() {
  auto frame = MakeFrame();
  CKorvexProView* view = frame->View();
  view->AddPaths({DemoProject()});
  RunThroughWizard(*frame, 32879);
  view->setCurrentItem(view->topLevelItem(0)->child(0));
  QVERIFY(!frame->InfoPane()->toPlainText().isEmpty());
  QVERIFY(frame->OutputWnd()->List()->rowCount() > 0);

  frame->Trigger(Kvx::ID_EDIT_CLEAR_ALL);
  QCOMPARE(view->topLevelItemCount(), 0);
  QCOMPARE(frame->OutputWnd()->List()->rowCount(), 0);
  QCOMPARE(frame->InfoPane()->toPlainText(), QString());
  QCOMPARE(frame->Preview()->FeatureCount(), 0);
  QCOMPARE(frame->StatusInfo()->text(), QStringLiteral("当前共有0个待转换文件！"));
  QCOMPARE(frame->StatusProgress()->text(), QStringLiteral("进度：[0/0]"));
}

void MainWindowTest::logPaneClearAndSave() {
  auto frame = MakeFrame();
  frame->View()->AddPaths({DemoProject()});
  RunThroughWizard(*frame, 32879);
  Kvx::COutputList* log = frame->OutputWnd()->List();
  const int rows = log->rowCount();
  QVERIFY(rows > 0);
  QCOMPARE(log->ContextMenu()->title(), QStringLiteral("弹出项"));
  QCOMPARE(log->ClearAction()->text(), QStringLiteral("清除"));
  QCOMPARE(log->SaveAction()->text(), QStringLiteral("另存为"));

  // 另存为: every row's message as GBK with CR LF.
  const QString logFile = data_.filePath(QStringLiteral("操作.log"));
  prompts_->fileToSave = logFile;
  log->SaveAction()->trigger();
  QCOMPARE(prompts_->saveFilters, QStringList{"日志文件 (*.log)|log"});
  QCOMPARE(prompts_->messages.constLast().text, QStringLiteral("转换日志信息已经正确输出！"));
  QCOMPARE(prompts_->messages.constLast().caption, QStringLiteral("输出完成"));
  const QByteArray saved = ReadAll(logFile);
  QVERIFY(saved.startsWith(QByteArray(">====\xbf\xaa\xca\xbc\xd7\xaa\xbb\xbb[")));  // ">====开始转换[" in GBK
  QVERIFY(saved.contains("\r\n"));

  log->ClearAction()->trigger();
  QCOMPARE(log->rowCount(), 0);
  QVERIFY(frame->View()->Log().Entries().empty());
}

void MainWindowTest::exportList() {
  auto frame = MakeFrame();
  frame->View()->AddPaths({data_.filePath(QStringLiteral("数据 demo/roads.wl"))});
  prompts_->fileToSave = data_.filePath(QStringLiteral("清单.txt"));
  frame->Trigger(Kvx::ID_EDIT_EXPORTLIST);
  QCOMPARE(prompts_->saveFilters, QStringList{"文本文件 (*.txt)|txt"});
  QCOMPARE(prompts_->messages.constLast().text, QStringLiteral("转换列表信息已经正确输出！"));
  const QByteArray text = ReadAll(data_.filePath(QStringLiteral("清单.txt")));
  QVERIFY(text.startsWith("\xb1\xe0\xba\xc5,"));  // "编号," in GBK
  QVERIFY(text.contains("\r\n1,roads.wl,.wl,"));
  QVERIFY(text.endsWith("KB, , , ,\r\n"));
  // An unwritable file gives a message, not the success text.
  prompts_->fileToSave = data_.filePath(QStringLiteral("无此目录/清单.txt"));
  frame->Trigger(Kvx::ID_EDIT_EXPORTLIST);
  QCOMPARE(prompts_->messages.constLast().caption, QStringLiteral("注意"));
}

void MainWindowTest::panesToggleAndRestore() {
  auto frame = MakeFrame();
  frame->Trigger(Kvx::ID_BTN_LOGWIN);
  QVERIFY(frame->OutputDock()->isHidden());
  frame->Trigger(Kvx::ID_BTN_LOGWIN);
  QVERIFY(!frame->OutputDock()->isHidden());
  frame->Trigger(Kvx::ID_BTN_INFWIN);
  QVERIFY(frame->InfoDock()->isHidden());

  // On the fourth theme, with a pane floating and one hidden: 恢复窗口.
  frame->ApplyTheme(3);
  frame->OutputDock()->setFloating(true);
  frame->Trigger(Kvx::ID_BTN_RESTORE);
  QCOMPARE(frame->ThemeInUse(), 0);
  QCOMPARE(Kvx::AppSettings().ThemeStyle, 0);
  for (QDockWidget* dock : {frame->OutputDock(), frame->InfoDock()}) {
    QVERIFY(!dock->isHidden());
    QVERIFY(!dock->isFloating());
    QCOMPARE(frame->dockWidgetArea(dock), Qt::BottomDockWidgetArea);
  }
  Kvx::Settings stored;
  Kvx::LoadSettings(stored, config_);
  QCOMPARE(stored.ThemeStyle, 0);
}

void MainWindowTest::themesRestyleAndAreStored_data() {
  QTest::addColumn<int>("theme");
  for (int i = 0; i < 4; ++i) QTest::newRow(Kvx::kThemeNames[static_cast<std::size_t>(i)].data()) << i;
}

void MainWindowTest::themesRestyleAndAreStored() {
  QFETCH(int, theme);
  auto frame = MakeFrame();
  frame->ApplyTheme((theme + 1) % 4);
  frame->ApplyTheme(theme);
  const QColor window = Kvx::ThemeOf(theme).palette.color(QPalette::Window);
  QCOMPARE(QApplication::palette().color(QPalette::Window), window);
  QCOMPARE(frame->View()->palette().color(QPalette::Window), window);
  QCOMPARE(frame->OutputWnd()->List()->palette().color(QPalette::Window), window);
  Kvx::Settings stored;
  Kvx::LoadSettings(stored, config_);
  QCOMPARE(stored.ThemeStyle, theme);
  // The four themes differ from each other.
  QSet<QRgb> windows;
  for (int i = 0; i < 4; ++i) windows.insert(Kvx::ThemeOf(i).palette.color(QPalette::Window).rgb());
  QCOMPARE(windows.size(), 4);
  // An unknown theme is the first one.
  frame->ApplyTheme(9);
  QCOMPARE(frame->ThemeInUse(), 0);
  // On a dark theme a failed row stays readable: not black, not the background.
  frame->ApplyTheme(1);
  frame->View()->AddPaths({data_.filePath(QStringLiteral("lost.wl"))});
  QCOMPARE(frame->View()->topLevelItem(0)->foreground(0).style(), Qt::NoBrush);
}

void MainWindowTest::windowStateRestoredAtNextStart() {
  const QString state = data_.filePath(QStringLiteral("window.ini"));
  {
    auto frame = MakeFrame(state);
    frame->resize(900, 640);
    frame->InfoDock()->hide();
    QApplication::processEvents();
    frame->close();
  }
  QVERIFY(QFile::exists(state));
  auto frame = std::make_unique<CMainFrame>(Kvx::AppSettings(), *prompts_, config_, state);
  QVERIFY(frame->RestoreWindowState());
  frame->show();
  QApplication::processEvents();
  QCOMPARE(frame->size(), QSize(900, 640));
  QVERIFY(frame->InfoDock()->isHidden());
  QVERIFY(!frame->OutputDock()->isHidden());
  QCOMPARE(Kvx::WindowStateFileFor("/home/u/.config/Halvard/KorvexPro.ini"),
           QStringLiteral("/home/u/.config/Halvard/KorvexPro-window.ini"));
}

void MainWindowTest::updater() {
  auto frame = MakeFrame();
  const QString cwd = QDir::currentPath();
  QVERIFY(QDir::setCurrent(data_.path()));
  // No updater here.
  frame->Trigger(Kvx::ID_UPDATE);
  QCOMPARE(prompts_->messages.size(), 1);
  QCOMPARE(prompts_->messages[0].caption, QStringLiteral("检查更新失败"));
  QCOMPARE(prompts_->messages[0].text, QStringLiteral("检查更新失败,错误信息(2)\n"));

  // An updater that is not a program.
  QVERIFY(QDir().mkpath(data_.filePath(QStringLiteral("update"))));
  QFile script(data_.filePath(QStringLiteral("update/mUpdate")));
  QVERIFY(script.open(QIODevice::WriteOnly));
  script.write("#!/bin/sh\npwd > started.txt\n");
  script.close();
  QCOMPARE(Kvx::StartUpdater(data_.path()), 13);

  // A real one starts in the folder "update", and the window does not wait for it.
  script.setPermissions(script.permissions() | QFileDevice::ExeOwner);
  prompts_->messages.clear();
  frame->Trigger(Kvx::ID_UPDATE);
  QCOMPARE(prompts_->messages.size(), 0);
  QTRY_VERIFY(QFile::exists(data_.filePath(QStringLiteral("update/started.txt"))));
  QTRY_COMPARE(ReadAll(data_.filePath(QStringLiteral("update/started.txt"))).trimmed(),
               QDir(data_.filePath(QStringLiteral("update"))).canonicalPath().toLocal8Bit());
  QDir::setCurrent(cwd);
}

void MainWindowTest::webCommandsAndAbout() {
  auto frame = MakeFrame();
  for (int id : {int(Kvx::ID_WEBHOME), int(Kvx::ID_TUTORIAL), int(Kvx::ID_HELP_ONLINE)}) frame->Trigger(id);
  emit frame->StatusLink()->linkActivated(QString::fromUtf8(Kvx::kWebHomeUrl));
  QCOMPARE(prompts_->urls, (QStringList{Kvx::kWebHomeUrl, Kvx::kTutorialUrl, Kvx::kHelpUrl, Kvx::kWebHomeUrl}));
  Kvx::CAboutDlg about(QStringLiteral("8.0.0.0"));
  QCOMPARE(about.VersionLabel()->text(), QStringLiteral("当前版本：8.0.0.0"));
}

void MainWindowTest::guiArguments_data() {
  QTest::addColumn<QStringList>("arguments");
  QTest::addColumn<bool>("ok");
  QTest::addColumn<QString>("config");
  QTest::addColumn<QStringList>("paths");
  QTest::newRow("paths") << QStringList{"a.mpj", "图层/b.WL"} << true << "" << QStringList{"a.mpj", "图层/b.WL"};
  QTest::newRow("config") << QStringList{"--config", "my.ini", "a.mpj"} << true << "my.ini" << QStringList{"a.mpj"};
  QTest::newRow("config=") << QStringList{"--config=my.ini"} << true << "my.ini" << QStringList{};
  QTest::newRow("config without file") << QStringList{"a.mpj", "--config"} << false << "" << QStringList{"a.mpj"};
  QTest::newRow("unknown option") << QStringList{"--bogus"} << false << "" << QStringList{};
  QTest::newRow("after --") << QStringList{"--", "--odd.wl"} << true << "" << QStringList{"--odd.wl"};
}

void MainWindowTest::guiArguments() {
  QFETCH(QStringList, arguments);
  QFETCH(bool, ok);
  QFETCH(QString, config);
  QFETCH(QStringList, paths);
  const Kvx::GuiArguments parsed = Kvx::ParseGuiArguments(arguments);
  QCOMPARE(parsed.ok, ok);
  if (!ok) {
    QVERIFY(!parsed.error.isEmpty());
    return;
  }
  QCOMPARE(parsed.configFile, config);
  QCOMPARE(parsed.paths, paths);
}

void MainWindowTest::startupPathsQueued() {
  auto frame = MakeFrame();
  const QString cwd = QDir::currentPath();
  QVERIFY(QDir::setCurrent(data_.filePath(QStringLiteral("数据 demo"))));
  // Relative paths are taken from the current folder; a folder is searched for projects.
  Kvx::QueueStartupPaths(*frame, {QStringLiteral("roads.wl"), data_.filePath(QStringLiteral("数据 demo")),
                                  QStringLiteral("sites.wt")});
  QDir::setCurrent(cwd);
  QCOMPARE(Column(*frame->View(), 0).mid(0, 3), (QStringList{"roads.wl", "sites.wt", "geology.mpj"}));
  QCOMPARE(frame->View()->topLevelItem(0)->text(1), data_.filePath(QStringLiteral("数据 demo/roads.wl")));
  QCOMPARE(frame->View()->List().RowCount(), std::size_t{8});
}

void MainWindowTest::previewDrawsGeoPackageTables() {
  // The same project converted into shapefiles, then into a GeoPackage (chosen on the wizard's
  // export page): the preview draws the same features from either.
  QMap<QString, int> shapefileCounts;
  QImage shapefileRegions;
  for (int format : {0, 1}) {
    auto frame = MakeFrame();
    CKorvexProView* view = frame->View();
    view->AddPaths({DemoProject()});
    prompts_->format = format;
    prompts_->output = data_.filePath(QStringLiteral("格式%1").arg(format));
    QVERIFY(QDir().mkpath(prompts_->output));
    QVERIFY(RunThroughWizard(*frame, 32894).started);
    QCOMPARE(Kvx::AppSettings().Format, format);
    if (format == 1) QVERIFY(QFile::exists(prompts_->output + QStringLiteral("/geology/geology.gpkg")));
    for (QTreeWidgetItem* item : Items(*view)) {
      view->setCurrentItem(item);
      const QString name = item->text(0);
      if (name.endsWith(QStringLiteral(".wb"))) {
        QCOMPARE(frame->Preview()->FeatureCount(), 0);  // a table: nothing to draw, nothing wrong
        QVERIFY2(frame->Preview()->Problems().isEmpty(), qPrintable(frame->Preview()->Problems().join(';')));
        continue;
      }
      QVERIFY2(frame->Preview()->Problems().isEmpty(), qPrintable(name + ": " + frame->Preview()->Problems().join(';')));
      QVERIFY2(frame->Preview()->FeatureCount() > 0, qPrintable(name));
      const int count = frame->Preview()->FeatureCount() * 1000 + frame->Preview()->TextCount();
      if (format == 0) {
        shapefileCounts.insert(name, count);
      } else {
        QCOMPARE(count, shapefileCounts.value(name));
      }
      // The region layer is drawn alike, pixel for pixel: the same places, holes and legend colours.
      if (name == QStringLiteral("geology.wp")) {
        frame->Preview()->resize(300, 240);
        frame->Preview()->ZoomToExtent();
        const QImage drawn = frame->Preview()->grab().toImage();
        if (format == 0) {
          int coloured = 0;
          for (int y = 0; y < drawn.height(); ++y)
            for (int x = 0; x < drawn.width(); ++x) coloured += drawn.pixelColor(x, y).saturation() > 60;
          QVERIFY(coloured > drawn.width() * drawn.height() / 4);  // the regions in their fill colours
          shapefileRegions = drawn;
        } else {
          QCOMPARE(drawn, shapefileRegions);
        }
      }
    }
    Kvx::AppSettings().Format = 0;
  }
  QCOMPARE(shapefileCounts.size(), 5);
}

void MainWindowTest::longConversionKeepsEventsFlowing() {
  // A line layer large enough that its conversion takes a good part of a second.
  KvxTest::LayerBuilder layer(0);
  for (int i = 0; i < 40000; ++i) {
    std::vector<MapGis::Point2D> vertices;
    for (int j = 0; j < 100; ++j) vertices.push_back({i * 10.0 + j, j * 3.0 + (i % 7)});
    layer.AddLine(vertices);
  }
  const QString big = data_.filePath(QStringLiteral("大图层.wl"));
  QVERIFY(layer.WriteTo(big.toStdString()));
  auto frame = MakeFrame();
  CKorvexProView* view = frame->View();
  view->AddPaths({big});

  // Timer events and progress values that arrive while the row is still being converted. The timer
  // starts with the first progress report, which only a running conversion sends, so each tick
  // counted was let through by the conversion's own progress reports.
  int ticksDuringConversion = 0;
  QList<int> barDuringConversion;
  QTimer ticker;
  QObject::connect(&ticker, &QTimer::timeout, view, [&] {
    if (view->topLevelItem(0)->text(4) == QStringLiteral(" ")) ++ticksDuringConversion;
  });
  QObject::connect(frame->StatusBar(), &QProgressBar::valueChanged, view, [&](int value) {
    if (!view->Busy() || view->topLevelItem(0)->text(4) != QStringLiteral(" ")) return;
    barDuringConversion.append(value);
    if (value > 0 && !ticker.isActive()) ticker.start(1);
  });
  QVERIFY(RunThroughWizard(*frame, 32890).started);
  QCOMPARE(view->topLevelItem(0)->text(4), QStringLiteral("成功"));
  QVERIFY2(ticksDuringConversion >= 1, qPrintable(QStringLiteral("%1 ticks, bar %2").arg(ticksDuringConversion).arg(barDuringConversion.size())));
  QVERIFY(!barDuringConversion.isEmpty());
  QVERIFY(*std::max_element(barDuringConversion.begin(), barDuringConversion.end()) >= 50);
}

void MainWindowTest::programSavesSettingsAtExit() {
  // The program itself: started with a settings file that does not exist yet and a project, then
  // ended as a session ends it (SIGTERM). It closes its window, saving the window state and the
  // settings.
  const QString settings = data_.filePath(QStringLiteral("程序/settings.ini"));
  QProcess gui;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
  gui.setProcessEnvironment(env);
  gui.start(QStringLiteral(KVX_GUI_PROGRAM), {QStringLiteral("--config"), settings, DemoProject()});
  QVERIFY(gui.waitForStarted(10000));
  QTest::qWait(1500);
  QCOMPARE(gui.state(), QProcess::Running);
  gui.terminate();
  QVERIFY(gui.waitForFinished(10000));
  QCOMPARE(gui.exitStatus(), QProcess::NormalExit);
  QCOMPARE(gui.exitCode(), 0);
  QVERIFY(QFile::exists(settings));
  QVERIFY(ReadAll(settings).contains("ThemeStyle"));
  QVERIFY(QFile::exists(data_.filePath(QStringLiteral("程序/settings-window.ini"))));

  QProcess help;
  help.setProcessEnvironment(env);
  help.start(QStringLiteral(KVX_GUI_PROGRAM), {QStringLiteral("--help")});
  QVERIFY(help.waitForFinished(10000));
  QCOMPARE(help.exitCode(), 0);
  QVERIFY(help.readAllStandardOutput().contains("--config FILE"));
  QProcess wrong;
  wrong.setProcessEnvironment(env);
  wrong.start(QStringLiteral(KVX_GUI_PROGRAM), {QStringLiteral("--bogus")});
  QVERIFY(wrong.waitForFinished(10000));
  QCOMPARE(wrong.exitCode(), 2);
}

QTEST_MAIN(MainWindowTest)
#include "main_window_qtest.moc"
