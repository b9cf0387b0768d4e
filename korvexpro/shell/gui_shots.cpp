// kvx_gui_shots OUTDIR LIBRARY-FOLDER REGION-LAYER PREFIX PATH...: opens the main window, queues the
// PATHs (projects, layer files), converts them with legends ("生成AVL图例") using the colour library in LIBRARY-FOLDER into a
// temporary folder, selects the layer row named REGION-LAYER and renders into OUTDIR:
//   PREFIXmain-window.png   the window after the batch (rows coloured by result, the log filled),
//   PREFIXtheme-N.png       the window in each of the four themes,
//   PREFIXpreview.png       the preview pane drawing the region layer.
// Needs a display (xvfb-run).

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QDockWidget>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTreeWidgetItemIterator>

#include "batch/batch_driver.h"
#include "settings/settings.h"
#include "shell/dialog_paths.h"
#include "shell/korvexpro_view.h"
#include "shell/main_frame.h"
#include "shell/preview_pane.h"
#include "shell/shot_file.h"
#include "wendle/fonts.h"

namespace {

// Answers every box without a window: the batch runs as if the user had confirmed its wizard.
class ShotPrompts : public Kvx::ShellPrompts {
 public:
  void Message(QWidget*, Wendle::MessageIcon, const QString& caption, const QString& text) override {
    std::printf("[%s] %s\n", qUtf8Printable(caption), qUtf8Printable(text));
  }
  bool Question(QWidget*, const QString&, const QString&) override { return false; }
  QString PickFolder(QWidget*, const QString&, const QString&) override { return {}; }
  QStringList OpenFiles(QWidget*, const QString&, const QString&, const QString&) override { return {}; }
  QString SaveFile(QWidget*, const QString&, const QString&, const QString&, const QString&) override { return {}; }
  bool RunWizard(QWidget*, const Kvx::BatchCommand& command, Kvx::Settings& settings) override {
    settings.SymbolType = command.symbolType;
    return true;
  }
  void Reveal(const QString&) override {}
  bool OpenUrl(const QUrl&) override { return true; }
};

bool Save(QWidget& widget, const QDir& out, const QString& name, bool caption) {
  return Kvx::SaveShot(widget, out, name, caption, "kvx_gui_shots");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 6) {
    std::fprintf(stderr, "usage: kvx_gui_shots OUTDIR LIBRARY-FOLDER REGION-LAYER PREFIX PATH...\n");
    return 2;
  }
  QApplication::setFont(Wendle::ChineseFont());
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "kvx_gui_shots: cannot make %s\n", argv[1]);
    return 1;
  }
  const QString library = QFileInfo(QString::fromLocal8Bit(argv[2])).absoluteFilePath();
  const QString region = QString::fromLocal8Bit(argv[3]);
  const QString prefix = QString::fromLocal8Bit(argv[4]);
  QStringList paths;
  for (int i = 5; i < argc; ++i) paths.append(QFileInfo(QString::fromLocal8Bit(argv[i])).absoluteFilePath());

  QTemporaryDir work;
  if (!work.isValid()) return 1;
  Kvx::Settings& settings = Kvx::AppSettings();
  settings = Kvx::Settings();
  const std::filesystem::path config = Kvx::PathString(work.filePath(QStringLiteral("settings.ini")));
  Kvx::LoadSettings(settings, config);
  settings.LibPath = Kvx::PathString(library);
  settings.OutPath = Kvx::PathString(work.filePath(QStringLiteral("out")));
  settings.WorkPath = Kvx::PathString(QFileInfo(paths.constFirst()).absolutePath());
  settings.Jobs = 1;
  QDir().mkpath(work.filePath(QStringLiteral("out")));

  ShotPrompts prompts;
  Kvx::CMainFrame frame(settings, prompts, config, QString());
  frame.resize(1280, 820);
  frame.show();
  QApplication::processEvents();

  Kvx::CKorvexProView* view = frame.View();
  view->AddPaths(paths);
  const Kvx::BatchCommand* avl = Kvx::FindBatchCommand("avl");
  if (avl == nullptr) return 1;
  view->RunCommand(*avl);

  // The region layer's row, selected: its log in the information pane, its map in the preview.
  QTreeWidgetItem* regionRow = nullptr;
  for (QTreeWidgetItemIterator it(view); *it != nullptr; ++it) {
    const QFileInfo name((*it)->text(Kvx::ColumnName));
    if (name.completeBaseName().compare(region, Qt::CaseInsensitive) == 0 &&
        name.suffix().compare(QStringLiteral("wp"), Qt::CaseInsensitive) == 0) {
      regionRow = *it;
      break;
    }
  }
  if (regionRow == nullptr) {
    std::fprintf(stderr, "kvx_gui_shots: no row named %s\n", qUtf8Printable(region));
    return 1;
  }
  view->setCurrentItem(regionRow);
  bool ok = Save(frame, out, prefix + QStringLiteral("main-window.png"), true);
  ok = Save(*frame.PreviewDock(), out, prefix + QStringLiteral("preview.png"), false) && ok;
  for (int theme = 0; theme < 4; ++theme) {
    frame.ApplyTheme(theme);
    ok = Save(frame, out, prefix + QStringLiteral("theme-%1.png").arg(theme), true) && ok;
  }
  frame.ApplyTheme(0);
  return ok ? 0 : 1;
}
