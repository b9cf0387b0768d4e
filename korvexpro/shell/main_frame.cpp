#include "shell/main_frame.h"

#include <QAction>
#include <QActionGroup>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QDockWidget>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QProgressBar>
#include <QSettings>
#include <QStatusBar>
#include <QTimer>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

#include <cerrno>

#include "batch/batch_driver.h"
#include "shell/about_dlg.h"
#include "shell/command_bar.h"
#include "shell/command_icons.h"
#include "shell/dialog_paths.h"
#include "shell/korvexpro_view.h"
#include "shell/output_wnd.h"
#include "shell/preview_pane.h"
#include "shell/settings_dlg.h"
#include "shell/theme_style.h"
#include "shell/window_themes.h"

#ifndef KVX_PRODUCT_VERSION
#define KVX_PRODUCT_VERSION "0.0.0.0"
#endif

namespace Kvx {
namespace {

QString Q(std::string_view text) { return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size())); }

struct CommandDef {
  int id;
  const char* text;    // "description\nshort name"
  const char* button;  // the text on its button
  Pictogram pictogram;
};

// The window's own commands; the batch commands come from the batch driver's table.
constexpr CommandDef kCommands[] = {
    {ID_FILE_FLD, "搜索选择目录下所有匹配文件\n选择目录", "选择目录", Pictogram::Folder},
    {ID_FILE_OPEN, "添加待转换文档\n添加文件", "添加文件", Pictogram::AddFile},
    {ID_EDIT_SELALL, "选择全部待转换文件\n全部选择", "全部选择", Pictogram::SelectAll},
    {ID_EDIT_SELNONE, "取消当前选择文件\n取消选择", "取消选择", Pictogram::SelectNone},
    {ID_EDIT_SELINVERT, "反向选择其它文件\n反向选择", "反向选择", Pictogram::Invert},
    {ID_EDIT_SELDEL, "将选择项从清单中移除\n移除选择", "移除选择", Pictogram::RemoveSel},
    {ID_EDIT_CLEAR_ALL, "清除全部待转换文档\n清空文件", "清空文件", Pictogram::ClearAll},
    {ID_EDIT_EXPAND, "展开文件列表\n展开文件列表", "全部展开", Pictogram::Expand},
    {ID_EDIT_COLLAPSE, "折叠文件列表\n折叠文件列表", "全部折叠", Pictogram::Collapse},
    {ID_EDIT_OPENLOCATION, "打开源文件位置", "打开源文件位置", Pictogram::Reveal},
    {ID_EDIT_EXPORTLIST, "输出转换列表信息\n输出列表", "输出列表", Pictogram::ExportList},
    {ID_OPT_ALL, "系统参数设置\n高级设置", "高级设置", Pictogram::Settings},
    {ID_BTN_INFWIN, "打开\\关闭转换信息窗口\n转换信息窗口", "转换信息", Pictogram::InfoPane},
    {ID_BTN_LOGWIN, "打开\\关闭操作日志窗口\n操作日志窗口", "操作日志", Pictogram::LogPane},
    {ID_BTN_RESTORE, "恢复窗口恢复默认窗口布局\n恢复默认窗口布局", "恢复窗口", Pictogram::Restore},
    {ID_BTN_PREVIEW, "打开\\关闭转换结果预览窗口\n预览窗口", "预览窗口", Pictogram::Preview},
    {ID_WEBHOME, "访问Korvex软件官方网站\n官方网站", "官方网站", Pictogram::WebHome},
    {ID_TUTORIAL, "访问在线教程\n在线教程", "软件教程", Pictogram::Tutorial},
    {ID_HELP_ONLINE, "访问在线帮助信息\n在线帮助", "在线帮助", Pictogram::Help},
    {ID_UPDATE, "在线软件更新\n检查更新", "检查更新", Pictogram::Update},
    {ID_APP_ABOUT, "Korvex软件版权信息\n关于", "关于", Pictogram::About},
    {ID_APP_EXIT, "退出程序\n退出", "退出(&X)", Pictogram::Exit},
};

struct BatchButton {
  int id;
  const char* button;
  Pictogram pictogram;
};
constexpr BatchButton kBatchButtons[] = {
    {32879, "全要素输出", Pictogram::AllLayers}, {32889, "点要素", Pictogram::Points},
    {32890, "线要素", Pictogram::Lines},         {32891, "面要素", Pictogram::Regions},
    {32886, "输出弧段", Pictogram::Arcs},        {32887, "网络结点", Pictogram::NetNodes},
    {32888, "输出属性", Pictogram::Spreadsheet}, {32880, "文字转换", Pictogram::Texts},
    {32892, "图例转属性", Pictogram::LegendTable}, {32801, "图例编码", Pictogram::LegendCode},
    {32894, "生成AVL图例", Pictogram::Avl},
};

constexpr int kQuickId = 32879;

// Commands that change the list, the settings or start a batch: not while one runs.
bool DisabledWhileBusy(int id) {
  switch (id) {
    case ID_FILE_OPEN:
    case ID_FILE_FLD:
    case ID_EDIT_SELDEL:
    case ID_EDIT_CLEAR_ALL:
    case ID_OPT_ALL:
    case ID_LOG_CLEAR:
      return true;
    default:
      break;
  }
  for (const BatchCommand& c : BatchCommands())
    if (c.id == id) return true;
  return false;
}

}  // namespace

QString ProductVersion() { return QStringLiteral(KVX_PRODUCT_VERSION); }

QString MainWindowTitle(const QString& version) {
  return QStringLiteral("KorvexPro 格式转换工具 (V%1)").arg(version);
}

int StartUpdater(const QString& base) {
  const QDir dir(base);
  const QString program = dir.absoluteFilePath(QStringLiteral("update/mUpdate"));
  const QString folder = dir.absoluteFilePath(QStringLiteral("update"));
  const QFileInfo info(program);
  if (!info.exists()) return ENOENT;
  if (!info.isFile() || !info.isExecutable()) return EACCES;
  if (!QFileInfo(folder).isDir()) return ENOTDIR;
  errno = 0;
  qint64 pid = 0;
  if (QProcess::startDetached(program, {}, folder, &pid)) return 0;
  return errno != 0 ? errno : ENOEXEC;
}

CMainFrame::CMainFrame(Settings& settings, ShellPrompts& prompts, std::filesystem::path configFile,
                       QString windowStateFile, QWidget* parent)
    : QMainWindow(parent),
      settings_(settings),
      prompts_(prompts),
      configFile_(std::move(configFile)),
      windowStateFile_(std::move(windowStateFile)) {
  setObjectName(QStringLiteral("KorvexPro"));
  setWindowTitle(MainWindowTitle(ProductVersion()));
  setWindowIcon(ApplicationIcon());
  setDockOptions(QMainWindow::AnimatedDocks | QMainWindow::AllowTabbedDocks);

  resize(1100, 720);
  view_ = new CKorvexProView(settings_, prompts_, this);
  setCentralWidget(view_);
  BuildActions();
  BuildCommandBar();
  BuildStatusBar();
  BuildPanes();
  Connect();
  ApplyTheme(ValidThemeStyle(settings_.ThemeStyle));
}

CMainFrame::~CMainFrame() = default;

QAction* CMainFrame::MakeAction(int id, const QString& text, const QString& tip, int pictogram) {
  auto* action = new QAction(CommandIcon(static_cast<Pictogram>(pictogram)), text, this);
  action->setToolTip(ToolTipOf(tip));
  action->setData(id);
  actions_.insert(id, action);
  pictograms_.insert(id, pictogram);
  return action;
}

void CMainFrame::BuildActions() {
  for (const CommandDef& c : kCommands)
    MakeAction(c.id, QString::fromUtf8(c.button), QString::fromUtf8(c.text), static_cast<int>(c.pictogram));
  for (const BatchButton& b : kBatchButtons) {
    for (const BatchCommand& command : BatchCommands()) {
      if (command.id != b.id) continue;
      QAction* action = MakeAction(b.id, QString::fromUtf8(b.button), Q(command.text), static_cast<int>(b.pictogram));
      const BatchCommand* c = &command;
      connect(action, &QAction::triggered, this, [this, c] { view_->RunCommand(*c); });
    }
  }
  Action(ID_EDIT_SELDEL)->setShortcut(QKeySequence::Delete);
  Action(ID_EDIT_SELALL)->setShortcut(QKeySequence::SelectAll);
  Action(ID_EDIT_SELINVERT)->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_I));
  Action(ID_FILE_OPEN)->setShortcut(QKeySequence::Open);
  Action(ID_APP_EXIT)->setShortcut(QKeySequence::Quit);
  for (int id : {ID_EDIT_SELDEL, ID_EDIT_SELALL, ID_EDIT_SELINVERT, ID_FILE_OPEN, ID_APP_EXIT}) {
    Action(id)->setShortcutContext(Qt::WindowShortcut);
    addAction(Action(id));
  }

  connect(Action(ID_FILE_OPEN), &QAction::triggered, view_, &CKorvexProView::OnFileOpen);
  connect(Action(ID_FILE_FLD), &QAction::triggered, view_, &CKorvexProView::OnFileFolder);
  connect(Action(ID_EDIT_SELALL), &QAction::triggered, view_, &CKorvexProView::OnSelectAll);
  connect(Action(ID_EDIT_SELNONE), &QAction::triggered, view_, &CKorvexProView::OnSelectNone);
  connect(Action(ID_EDIT_SELINVERT), &QAction::triggered, view_, &CKorvexProView::OnInvertSelection);
  connect(Action(ID_EDIT_SELDEL), &QAction::triggered, view_, &CKorvexProView::OnRemoveSelected);
  connect(Action(ID_EDIT_CLEAR_ALL), &QAction::triggered, view_, &CKorvexProView::OnClearAll);
  connect(Action(ID_EDIT_EXPAND), &QAction::triggered, view_, &CKorvexProView::OnExpandAll);
  connect(Action(ID_EDIT_COLLAPSE), &QAction::triggered, view_, &CKorvexProView::OnCollapseAll);
  connect(Action(ID_EDIT_OPENLOCATION), &QAction::triggered, view_, &CKorvexProView::OnOpenLocation);
  connect(Action(ID_EDIT_EXPORTLIST), &QAction::triggered, view_, &CKorvexProView::OnExportList);
  connect(Action(ID_OPT_ALL), &QAction::triggered, this, [this] {
    RunSettingsDialog(settings_, prompts_, theme_, [this](std::int32_t style) { ApplyTheme(style); }, this);
  });
  connect(Action(ID_BTN_INFWIN), &QAction::triggered, this, [this] { infoDock_->setHidden(!infoDock_->isHidden()); });
  connect(Action(ID_BTN_LOGWIN), &QAction::triggered, this,
          [this] { outputDock_->setHidden(!outputDock_->isHidden()); });
  connect(Action(ID_BTN_PREVIEW), &QAction::triggered, this,
          [this] { previewDock_->setHidden(!previewDock_->isHidden()); });
  connect(Action(ID_BTN_RESTORE), &QAction::triggered, this, &CMainFrame::RestoreLayout);
  connect(Action(ID_WEBHOME), &QAction::triggered, this, [this] { OpenPage(kWebHomeUrl); });
  connect(Action(ID_TUTORIAL), &QAction::triggered, this, [this] { OpenPage(kTutorialUrl); });
  connect(Action(ID_HELP_ONLINE), &QAction::triggered, this, [this] { OpenPage(kHelpUrl); });
  connect(Action(ID_UPDATE), &QAction::triggered, this, &CMainFrame::OnUpdate);
  connect(Action(ID_APP_ABOUT), &QAction::triggered, this, &CMainFrame::OnAbout);
  connect(Action(ID_APP_EXIT), &QAction::triggered, this, &QWidget::close);

  // The view's context menu "编辑".
  QAction* exportList = new QAction(Action(ID_EDIT_EXPORTLIST)->icon(), QStringLiteral("输出转换列表"), this);
  connect(exportList, &QAction::triggered, view_, &CKorvexProView::OnExportList);
  view_->SetContextActions({Action(ID_EDIT_SELALL), Action(ID_EDIT_SELNONE), Action(ID_EDIT_SELDEL), nullptr,
                            Action(ID_EDIT_EXPAND), Action(ID_EDIT_COLLAPSE), nullptr, Action(ID_EDIT_OPENLOCATION),
                            nullptr, exportList});
}

void CMainFrame::BuildCommandBar() {
  bar_ = new CCommandBar(this);
  setMenuWidget(bar_);

  // The application menu "文件": its own texts for the same commands.
  appMenu_ = new QMenu(this);
  appMenu_->setToolTipsVisible(true);
  const auto alias = [this](int id, const QString& text) {
    QAction* main = Action(id);
    auto* copy = appMenu_->addAction(main->icon(), text);
    copy->setToolTip(main->toolTip());
    copy->setData(id);
    connect(copy, &QAction::triggered, main, &QAction::trigger);
    connect(main, &QAction::changed, copy, [main, copy] { copy->setEnabled(main->isEnabled()); });
  };
  alias(ID_FILE_FLD, QStringLiteral("选择目录"));
  alias(ID_FILE_OPEN, QStringLiteral("添加文件(&O)..."));
  alias(kQuickId, QStringLiteral("全要素输出"));
  appMenu_->addSeparator();
  alias(ID_UPDATE, QStringLiteral("检查更新"));
  alias(ID_APP_ABOUT, QStringLiteral("关于"));
  appMenu_->addSeparator();
  alias(ID_APP_EXIT, QStringLiteral("退出(&X)"));
  bar_->SetApplicationMenu(QStringLiteral("文件"), appMenu_);
  bar_->SetCornerAction(Action(ID_APP_ABOUT));

  // The themes, beside "关于".
  themeMenu_ = new QMenu(QStringLiteral("主题"), this);
  auto* group = new QActionGroup(themeMenu_);
  for (int i = 0; i < static_cast<int>(kThemeNames.size()); ++i) {
    QAction* a = themeMenu_->addAction(Q(kThemeNames[static_cast<std::size_t>(i)]));
    a->setCheckable(true);
    a->setData(i);
    group->addAction(a);
    connect(a, &QAction::triggered, this, [this, i] { ApplyTheme(i); });
  }
  themeButton_ = bar_->AddCornerMenu(QStringLiteral("主题"), CommandIcon(Pictogram::Restore), themeMenu_);

  const int view = bar_->AddTab(QStringLiteral("视图(&V)"));
  bar_->AddPanel(view, QStringLiteral("添加文件"));
  for (int id : {ID_FILE_FLD, ID_FILE_OPEN}) bar_->AddCommand(view, Action(id));
  bar_->AddPanel(view, QStringLiteral("转换列表"));
  for (int id : {ID_EDIT_SELALL, ID_EDIT_SELNONE, ID_EDIT_SELDEL, ID_EDIT_CLEAR_ALL, ID_EDIT_EXPORTLIST})
    bar_->AddCommand(view, Action(id));
  bar_->AddPanel(view, QStringLiteral("系统设置"));
  for (int id : {ID_OPT_ALL, ID_BTN_INFWIN, ID_BTN_LOGWIN, ID_BTN_RESTORE, ID_BTN_PREVIEW})
    bar_->AddCommand(view, Action(id));

  const int convert = bar_->AddTab(QStringLiteral("转换(&C)"));
  bar_->AddPanel(convert, QStringLiteral("纯数据转换"));
  for (int id : {32889, 32890, 32891}) bar_->AddCommand(convert, Action(id));
  bar_->AddCommand(convert, nullptr);
  bar_->AddCommand(convert, Action(kQuickId));
  bar_->AddPanel(convert, QStringLiteral("特殊对象转换"));
  for (int id : {32880, 32886, 32887, 32888}) bar_->AddCommand(convert, Action(id));
  bar_->AddPanel(convert, QStringLiteral("含制图信息转换"));
  for (int id : {32892, 32801, 32894}) bar_->AddCommand(convert, Action(id));

  const int help = bar_->AddTab(QStringLiteral("帮助(&H)"));
  bar_->AddPanel(help, QStringLiteral("在线支持"));
  for (int id : {ID_WEBHOME, ID_TUTORIAL, ID_HELP_ONLINE}) bar_->AddCommand(help, Action(id));
  bar_->AddPanel(help, QStringLiteral("关于"));
  for (int id : {ID_UPDATE, ID_APP_ABOUT}) bar_->AddCommand(help, Action(id));
}

void CMainFrame::BuildStatusBar() {
  QStatusBar* bar = statusBar();
  statusInfo_ = new QLabel(QStringLiteral("就绪"), bar);
  statusInfo_->setToolTip(QStringLiteral("提示"));
  statusInfo_->setMinimumWidth(120);
  statusProgress_ = new QLabel(QStringLiteral("进度: [0/0] "), bar);
  statusProgress_->setToolTip(QStringLiteral("统计"));
  const QFontMetrics metrics(statusProgress_->font());
  statusProgress_->setMinimumWidth(std::max(metrics.horizontalAdvance(QStringLiteral("进度: [99999/99999] ")),
                                            metrics.horizontalAdvance(QStringLiteral("进度：[99999/99999] "))) +
                                   8);
  progressBar_ = new QProgressBar(bar);
  progressBar_->setRange(0, 100);
  progressBar_->setValue(0);
  progressBar_->setFixedSize(200, 22);
  progressBar_->setTextVisible(false);
  progressBar_->setToolTip(QStringLiteral("进度"));
  statusLink_ = new QLabel(QStringLiteral("<a href=\"%1\">korvexpro.org</a>").arg(QString::fromUtf8(kWebHomeUrl)), bar);
  statusLink_->setToolTip(QStringLiteral("网站"));
  statusLink_->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
  connect(statusLink_, &QLabel::linkActivated, this, [this](const QString&) { OpenPage(kWebHomeUrl); });
  bar->addWidget(statusInfo_, 1);
  bar->addPermanentWidget(statusProgress_);
  bar->addPermanentWidget(progressBar_);
  bar->addPermanentWidget(statusLink_);
}

void CMainFrame::BuildPanes() {
  info_ = new CConversionInfoPane(this);
  infoDock_ = new QDockWidget(QString::fromUtf8(kInfoPaneTitle), this);
  infoDock_->setObjectName(QStringLiteral("InfoPane"));
  infoDock_->setWidget(info_);

  output_ = new COutputWnd(this);
  outputDock_ = new QDockWidget(QString::fromUtf8(kOutputPaneTitle), this);
  outputDock_->setObjectName(QStringLiteral("OutputPane"));
  outputDock_->setWidget(output_);

  preview_ = new CPreviewPane(this);
  previewDock_ = new QDockWidget(QStringLiteral("预览"), this);
  previewDock_->setObjectName(QStringLiteral("PreviewPane"));
  previewDock_->setWidget(preview_);
  DockDefault();
}

void CMainFrame::DockDefault() {
  for (QDockWidget* dock : {infoDock_, outputDock_, previewDock_}) {
    dock->setFloating(false);
    removeDockWidget(dock);
  }
  addDockWidget(Qt::BottomDockWidgetArea, outputDock_);
  addDockWidget(Qt::BottomDockWidgetArea, infoDock_);
  splitDockWidget(outputDock_, infoDock_, Qt::Horizontal);
  addDockWidget(Qt::RightDockWidgetArea, previewDock_);
  for (QDockWidget* dock : {infoDock_, outputDock_, previewDock_}) dock->show();
  resizeDocks({outputDock_, infoDock_}, {std::max(300, width() * 3 / 5), std::max(200, width() * 2 / 5)},
              Qt::Horizontal);
  resizeDocks({outputDock_}, {200}, Qt::Vertical);
  resizeDocks({previewDock_}, {std::max(280, width() / 3)}, Qt::Horizontal);
}

void CMainFrame::Connect() {
  connect(view_, &CKorvexProView::statusInfoChanged, statusInfo_, &QLabel::setText);
  connect(view_, &CKorvexProView::statusProgressChanged, statusProgress_, &QLabel::setText);
  connect(view_, &CKorvexProView::progressBarChanged, progressBar_, &QProgressBar::setValue);
  connect(view_, &CKorvexProView::operationLogAdded, output_->List(),
          [this](const QString& time, const QString& text) {
            OperationLogEntry entry{time.toStdString(), text.toStdString()};
            output_->List()->Append(entry);
          });
  connect(view_, &CKorvexProView::operationLogCleared, output_->List(), &COutputList::ClearRows);
  connect(view_, &CKorvexProView::conversionInfoChanged, info_, &QPlainTextEdit::setPlainText);
  connect(view_, &CKorvexProView::previewRequested, preview_, [this](const QStringList& outputs) {
    std::vector<CPreviewPane::Source> sources;
    for (const QString& output : outputs) {
      const QStringList parts = output.split(QLatin1Char('\n'));
      sources.push_back({PathString(parts[0]), parts.size() > 1 ? std::filesystem::path(PathString(parts[1]))
                                                                : std::filesystem::path()});
    }
    if (sources.empty()) {
      preview_->Clear();
    } else {
      preview_->ShowOutputs(sources);
    }
  });
  connect(view_, &CKorvexProView::busyChanged, this, &CMainFrame::SetBusy);
  connect(output_->List(), &COutputList::clearRequested, this, [this] {
    if (!view_->Busy()) view_->OnClearLog();
  });
  connect(output_->List(), &COutputList::saveRequested, view_, &CKorvexProView::OnSaveLog);
}

void CMainFrame::Trigger(int id) {
  if (QAction* action = Action(id); action != nullptr && action->isEnabled()) action->trigger();
}

void CMainFrame::SetBusy(bool busy) {
  for (auto it = actions_.cbegin(); it != actions_.cend(); ++it) {
    if (DisabledWhileBusy(it.key())) it.value()->setEnabled(!busy);
  }
  output_->List()->ClearAction()->setEnabled(!busy);
  if (!busy && closeAfterRun_) QTimer::singleShot(0, this, &QWidget::close);
}

void CMainFrame::ApplyTheme(int style) {
  style = ValidThemeStyle(style);
  const WindowTheme theme = ThemeOf(style);
  QApplication::setPalette(theme.palette);
  setPalette(theme.palette);
  bar_->setStyleSheet(CommandBarStyleSheet(theme));
  for (QAction* a : themeMenu_->actions()) a->setChecked(a->data().toInt() == style);
  // Dark lines of the icons and the link's colour follow the theme.
  const bool dark = theme.palette.color(QPalette::Window).lightness() < 128;
  for (auto it = actions_.cbegin(); it != actions_.cend(); ++it)
    it.value()->setIcon(CommandIcon(static_cast<Pictogram>(pictograms_.value(it.key())), dark));
  for (QAction* a : appMenu_->actions())
    if (!a->isSeparator()) a->setIcon(Action(a->data().toInt())->icon());
  statusLink_->setText(QStringLiteral("<a style=\"color:%1\" href=\"%2\">korvexpro.org</a>")
                           .arg(theme.palette.color(QPalette::Link).name(), QString::fromUtf8(kWebHomeUrl)));
  view_->RefreshColours();
  const bool changed = theme_ != style;
  theme_ = style;
  if (settings_.ThemeStyle != style || changed) {
    settings_.ThemeStyle = style;
    if (!configFile_.empty()) SaveThemeStyle(settings_, configFile_);
  }
  update();
}

void CMainFrame::RestoreLayout() {
  if (theme_ != 0) ApplyTheme(0);
  DockDefault();
}

bool CMainFrame::RestoreWindowState() {
  if (windowStateFile_.isEmpty() || !QFileInfo::exists(windowStateFile_)) return false;
  QSettings state(windowStateFile_, QSettings::IniFormat);
  const bool geometry = restoreGeometry(state.value(QStringLiteral("Window/Geometry")).toByteArray());
  const bool docks = restoreState(state.value(QStringLiteral("Window/State")).toByteArray());
  return geometry || docks;
}

void CMainFrame::SaveWindowState() const {
  if (windowStateFile_.isEmpty()) return;
  QSettings state(windowStateFile_, QSettings::IniFormat);
  state.setValue(QStringLiteral("Window/Geometry"), saveGeometry());
  state.setValue(QStringLiteral("Window/State"), saveState());
  state.sync();
}

void CMainFrame::OnUpdate() {
  const int error = StartUpdater(QDir::currentPath());
  if (error == 0) return;
  prompts_.Message(this, Wendle::MessageIcon::Information, QString::fromUtf8(kUpdateFailedCaption),
                   QString::fromUtf8(kUpdateFailedFormat).arg(error));
}

void CMainFrame::OnAbout() {
  CAboutDlg about(ProductVersion(), this);
  about.exec();
}

void CMainFrame::OpenPage(const char* url) {
  if (!prompts_.OpenUrl(QUrl(QString::fromUtf8(url)))) {
    statusInfo_->setText(QStringLiteral("无法打开网页：") + QString::fromUtf8(url));
  }
}

void CMainFrame::CloseWhenIdle() {
  if (view_->Busy()) {
    closeAfterRun_ = true;
    view_->RequestStop();
    return;
  }
  close();
}

void CMainFrame::closeEvent(QCloseEvent* event) {
  if (view_->Busy()) {
    event->ignore();
    if (closeAfterRun_) return;
    if (prompts_.Question(this, QStringLiteral("退出"), QStringLiteral("转换正在进行，确定在当前文件完成后停止并退出？"))) {
      closeAfterRun_ = true;
      view_->RequestStop();
    }
    return;
  }
  SaveWindowState();
  event->accept();
}

}  // namespace Kvx
