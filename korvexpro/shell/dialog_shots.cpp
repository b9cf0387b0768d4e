// kvx_dialog_shots OUTDIR [DEMO-OUTPUT-FOLDER]: renders the three-page conversion wizard (each page), both pages of the
// settings dialog and the folder chooser into PNG files in OUTDIR, as a user would see them with
// sample folders whose names hold spaces and Chinese characters, and, given the folder of the demo
// project converted with legends, the preview pane drawing it. Needs a display (xvfb-run).

#include <cstdio>

#include <QApplication>
#include <QDir>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QPushButton>

#include "settings/settings.h"
#include "shell/dialog_paths.h"
#include "shell/preview_pane.h"
#include "shell/shot_file.h"
#include "shell/settings_dlg.h"
#include "shell/wiz_shape_dlg.h"
#include "wendle/fonts.h"
#include "wendle/folder_list_dialog.h"
#include "wendle/prompter.h"

namespace {

bool Save(QWidget& widget, const QDir& out, const char* name) {
  return Kvx::SaveShot(widget, out, QString::fromUtf8(name), true, "kvx_dialog_shots");
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2 && argc != 3) {
    std::fprintf(stderr, "usage: kvx_dialog_shots OUTDIR [DEMO-OUTPUT-FOLDER]\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "kvx_dialog_shots: cannot make %s\n", argv[1]);
    return 1;
  }

  // Sample folders the boxes point to.
  QDir sample(QDir::temp().filePath(QStringLiteral("KorvexPro 示例")));
  const QString library = sample.filePath(QStringLiteral("MapGIS 系统库/Slib"));
  const QString output = sample.filePath(QStringLiteral("转换成果 2024"));
  const QString work = sample.filePath(QStringLiteral("地质图 工作区"));
  for (const QString& folder : {library, output, work}) QDir().mkpath(folder);

  Kvx::Settings settings;
  settings.LibPath = Kvx::PathString(library);
  settings.OutPath = Kvx::PathString(output);
  settings.WorkPath = Kvx::PathString(work);
  settings.ExportProjection = 2;
  settings.ColorModel = 1;
  settings.RotateType = 0;
  settings.CodePage = 0;
  Wendle::QtPrompter prompter;

  bool ok = true;
  {
    Kvx::ConvertWizard wizard(Kvx::PageProjection | Kvx::PageSymbol | Kvx::PageExport, settings, prompter);
    Kvx::CWizShapeDlg& dialog = wizard.Dialog();
    dialog.show();
    ok &= Save(dialog, out, "wizard-projection.png");
    dialog.Button(Wendle::CNewWizDialog::kNextId)->click();
    ok &= Save(dialog, out, "wizard-symbol.png");
    dialog.Button(Wendle::CNewWizDialog::kNextId)->click();
    ok &= Save(dialog, out, "wizard-export.png");
    wizard.Export()->BesideSource()->setChecked(true);
    ok &= Save(dialog, out, "wizard-export-beside-source.png");
    dialog.hide();
  }
  {
    Kvx::CSettingsDlg dialog(settings, prompter);
    dialog.show();
    dialog.SetCurrentPage(0);
    ok &= Save(dialog, out, "settings-general.png");
    dialog.SetCurrentPage(1);
    ok &= Save(dialog, out, "settings-affix.png");
  }
  {
    Wendle::CFolderListDialog dialog(prompter);
    dialog.setWindowTitle(QStringLiteral("搜索目录"));
    for (const QString& folder : {work, output, library}) dialog.AddFolder(folder);
    dialog.show();
    ok &= Save(dialog, out, "folder-chooser.png");
  }
  if (argc > 2) {
    const std::filesystem::path demo = argv[2];
    Kvx::CPreviewPane pane;
    pane.setWindowTitle(QStringLiteral("预览 - geology_P0"));
    pane.resize(640, 420);
    pane.ShowOutputs({demo / "geology_P0", demo / "pipes", demo / "roads", demo / "sites", demo / "sitesA"});
    pane.show();
    ok &= pane.FeatureCount() > 0 && pane.Problems().isEmpty();
    ok &= Save(pane, out, "preview-demo.png");
  }
  sample.removeRecursively();
  return ok ? 0 : 1;
}
