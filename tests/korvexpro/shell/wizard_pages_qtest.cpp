// The conversion wizard: the pages each batch command shows, and each page's texts, refusals and
// stored values.

#include <functional>
#include <memory>

#include <QComboBox>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "batch/batch_driver.h"
#include "settings/settings.h"
#include "shell/wiz_shape_dlg.h"
#include "support/recording_prompter.h"
#include "wendle/folder_edit.h"

using KvxTest::RecordingPrompter;
using Wendle::CNewWizDialog;

namespace {

const QString kProjectionTitle = QStringLiteral("空间参考输出方式");
const QString kSymbolTitle = QStringLiteral("MapGIS系统库");
const QString kExportTitle = QStringLiteral("输出设置");

QStringList PageTitles(const CNewWizDialog& dialog) {
  QStringList titles;
  for (int i = 0; i < dialog.GetPageCount(); ++i) titles.append(dialog.GetPage(i)->Title());
  return titles;
}

QStringList ButtonTexts(const CNewWizDialog& dialog) {
  QStringList texts;
  for (int id : {CNewWizDialog::kBackId, CNewWizDialog::kNextId, CNewWizDialog::kFinishId, int(QDialog::Rejected)})
    texts.append(dialog.Button(id)->text());
  return texts;
}

void Click(CNewWizDialog& dialog, int id) { dialog.Button(id)->click(); }

// Runs `body` on the wizard once the next modal dialog is open.
void WhenWizardOpens(std::function<void(Kvx::CWizShapeDlg&)> body) {
  QTimer::singleShot(0, [body] {
    auto* wizard = qobject_cast<Kvx::CWizShapeDlg*>(QApplication::activeModalWidget());
    if (wizard == nullptr) {
      QApplication::activeModalWidget()->close();
      QFAIL("no conversion wizard opened");
    }
    body(*wizard);
  });
}

std::string Utf8(const QString& s) { return s.toStdString(); }

}  // namespace

class WizardPagesTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init();
  void pagesOfEachCommand_data();
  void pagesOfEachCommand();
  void runStartsTheBatchOnlyAfterConvert();
  void projectionPage_data();
  void projectionPage();
  void symbolPage_data();
  void symbolPage();
  void symbolPageFinishChecksToo();
  void exportPage_data();
  void exportPage();
  void besideSourceChoiceIsWhatTheNextWizardOpensWith();
  void browseOpensWhereTheBoxPoints();
  void targetSystemOnTheExportPage_data();
  void targetSystemOnTheExportPage();
  void formatOnTheExportPage();

 private:
  QString Dir(const QString& name) const { return tmp_->filePath(name); }
  std::unique_ptr<QTemporaryDir> tmp_;
  Kvx::Settings settings_;
  RecordingPrompter prompter_;
};

void WizardPagesTest::init() {
  tmp_ = std::make_unique<QTemporaryDir>();
  QVERIFY(tmp_->isValid());
  QVERIFY(QDir().mkpath(Dir("MapGIS 系统库/Slib")));
  QVERIFY(QDir().mkpath(Dir("输出 成果")));
  QFile file(Dir("一个文件.txt"));
  QVERIFY(file.open(QIODevice::WriteOnly));
  settings_ = Kvx::Settings{};
  settings_.LibPath = Utf8(Dir("MapGIS 系统库/Slib"));
  settings_.OutPath = Utf8(Dir("输出 成果"));
  prompter_ = RecordingPrompter{};
}

// Every command of the batch table, with the pages it must show.
void WizardPagesTest::pagesOfEachCommand_data() {
  QTest::addColumn<QString>("name");
  QTest::addColumn<QStringList>("titles");
  const QStringList two = {kProjectionTitle, kExportTitle};
  const QStringList three = {kProjectionTitle, kSymbolTitle, kExportTitle};
  for (const char* name : {"quick", "points", "lines", "regions", "arcs", "nodes"}) QTest::newRow(name) << name << two;
  QTest::newRow("xls") << "xls" << QStringList{kExportTitle};
  for (const char* name : {"labels", "params", "codes", "avl"}) QTest::newRow(name) << name << three;
}

void WizardPagesTest::pagesOfEachCommand() {
  QFETCH(QString, name);
  QFETCH(QStringList, titles);
  const Kvx::BatchCommand* command = Kvx::FindBatchCommand(Utf8(name));
  QVERIFY(command != nullptr);
  settings_.SymbolType = 99;
  bool ran = false;
  WhenWizardOpens([&](Kvx::CWizShapeDlg& wizard) {
    ran = true;
    QCOMPARE(wizard.windowTitle(), QStringLiteral("转换向导"));
    QCOMPARE(PageTitles(wizard), titles);
    QCOMPARE(ButtonTexts(wizard), (QStringList{"<上一步", "下一步>", "转换", "取消"}));
    QCOMPARE(wizard.GetActiveIndex(), 0);
    Click(wizard, QDialog::Rejected);
  });
  QVERIFY(!Kvx::RunConvertWizard(*command, settings_, prompter_));
  QVERIFY(ran);
  // The command's SymbolType is set even though the batch does not start.
  QCOMPARE(settings_.SymbolType, command->symbolType);
}

void WizardPagesTest::runStartsTheBatchOnlyAfterConvert() {
  const Kvx::BatchCommand* avl = Kvx::FindBatchCommand("avl");
  QVERIFY(avl != nullptr);
  WhenWizardOpens([](Kvx::CWizShapeDlg& wizard) {
    Click(wizard, CNewWizDialog::kNextId);
    Click(wizard, CNewWizDialog::kNextId);
    QCOMPARE(wizard.GetActiveIndex(), 2);
    Click(wizard, CNewWizDialog::kFinishId);
  });
  QVERIFY(Kvx::RunConvertWizard(*avl, settings_, prompter_));
  QCOMPARE(settings_.SymbolType, 4);
  QVERIFY(prompter_.messages.isEmpty());
}

void WizardPagesTest::projectionPage_data() {
  QTest::addColumn<int>("stored");
  QTest::addColumn<int>("shown");
  QTest::addColumn<int>("chosen");
  QTest::newRow("0 shown, 2 chosen") << 0 << 0 << 2;
  QTest::newRow("1 shown, 0 chosen") << 1 << 1 << 0;
  QTest::newRow("2 shown, 1 chosen") << 2 << 2 << 1;
  QTest::newRow("out of range shows the default") << 7 << 1 << 1;
}

void WizardPagesTest::projectionPage() {
  QFETCH(int, stored);
  QFETCH(int, shown);
  QFETCH(int, chosen);
  settings_.ExportProjection = stored;
  Kvx::ConvertWizard wizard(Kvx::PageProjection | Kvx::PageExport, settings_, prompter_);
  wizard.Dialog().show();
  Kvx::CPageProject& page = *wizard.Projection();
  QCOMPARE(page.Choice(0)->text(), QStringLiteral("不输出空间参考信息（适用用户自定义坐标系）"));
  QCOMPARE(page.Choice(1)->text(), QStringLiteral("使用原始比例和坐标单位"));
  QCOMPARE(page.Choice(2)->text(), QStringLiteral("生成标准空间参考信息（推荐！原文件必须包含正确投影坐标）"));
  QStringList labels;
  for (const QLabel* label : page.Body()->findChildren<QLabel*>()) labels.append(label->text());
  QCOMPARE(labels, (QStringList{"保持MapGIS原有坐标范围，不输出投影文件。", "保持原始MapGIS文件比例尺和坐标单位，生成兼容投影文件。",
                                "自动将原始MapGIS文件比例尺转换为1：1，坐标单位改为米，生成\n标准ArcGIS投影文件。"}));
  for (int v = 0; v < 3; ++v) QCOMPARE(page.Choice(v)->isChecked(), v == shown);

  page.Choice(chosen)->setChecked(true);
  QCOMPARE(settings_.ExportProjection, stored);  // nothing stored before the user moves on
  Click(wizard.Dialog(), CNewWizDialog::kNextId);
  QCOMPARE(settings_.ExportProjection, chosen);
  QCOMPARE(wizard.Dialog().GetActiveIndex(), 1);
}

// The library box's text ("@" the temporary folder), the message shown (none: the page moves on).
void WizardPagesTest::symbolPage_data() {
  QTest::addColumn<QString>("box");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("stored");
  QTest::newRow("empty") << "" << "符号库不能为空" << "";
  QTest::newRow("blank") << "  " << "符号库不能为空" << "";
  QTest::newRow("missing folder") << "@/没有这个目录" << "符号库文件不存在，请重新输出" << "";
  QTest::newRow("a file, not a folder") << "@/一个文件.txt" << "符号库文件不存在，请重新输出" << "";
  QTest::newRow("folder with spaces and Chinese") << "@/MapGIS 系统库/Slib" << "" << "@/MapGIS 系统库/Slib";
  QTest::newRow("trailing separator and dots") << "@/MapGIS 系统库/./Slib/" << "" << "@/MapGIS 系统库/Slib";
}

void WizardPagesTest::symbolPage() {
  QFETCH(QString, box);
  QFETCH(QString, message);
  QFETCH(QString, stored);
  box.replace('@', tmp_->path());
  stored.replace('@', tmp_->path());
  settings_.LibPath = "/elsewhere";
  settings_.ColorModel = 2;
  settings_.RotateType = 1;
  const Kvx::Settings before = settings_;

  Kvx::ConvertWizard wizard(Kvx::PageProjection | Kvx::PageSymbol | Kvx::PageExport, settings_, prompter_);
  wizard.Dialog().show();
  Click(wizard.Dialog(), CNewWizDialog::kNextId);
  Kvx::CPageSymbol& page = *wizard.Symbol();
  QCOMPARE(page.LibraryBox()->Text(), QStringLiteral("/elsewhere"));
  QVERIFY(page.ColourChoice(2)->isChecked());
  QVERIFY(page.AngleChoice(1)->isChecked());
  QStringList texts;
  for (int v = 0; v < 3; ++v) texts << page.ColourChoice(v)->text() << page.AngleChoice(v)->text();
  QCOMPARE(texts, (QStringList{"RGB颜色", "数学角度", "CMYK颜色", "地理角度", "MapGIS色号", "图形角度"}));

  page.LibraryBox()->SetText(box);
  page.ColourChoice(1)->setChecked(true);
  page.AngleChoice(2)->setChecked(true);
  Click(wizard.Dialog(), CNewWizDialog::kNextId);
  if (message.isEmpty()) {
    QVERIFY(prompter_.messages.isEmpty());
    QCOMPARE(wizard.Dialog().GetActiveIndex(), 2);
    QCOMPARE(QString::fromStdString(settings_.LibPath), stored);
    QCOMPARE(settings_.ColorModel, 1);
    QCOMPARE(settings_.RotateType, 2);
  } else {
    QCOMPARE(prompter_.Texts(), QStringList{message});
    QCOMPARE(prompter_.messages.front().caption, QStringLiteral("注意"));
    QCOMPARE(wizard.Dialog().GetActiveIndex(), 1);
    QVERIFY(!wizard.Export()->IsCreated());
    Kvx::Settings expected = before;
    expected.ExportProjection = settings_.ExportProjection;  // stored by the first page's Next
    QVERIFY(settings_ == expected);
  }
}

// Finish stays enabled going back from the last page, so the symbol page checks on Finish too.
void WizardPagesTest::symbolPageFinishChecksToo() {
  Kvx::ConvertWizard wizard(Kvx::PageProjection | Kvx::PageSymbol | Kvx::PageExport, settings_, prompter_);
  CNewWizDialog& dialog = wizard.Dialog();
  QSignalSpy finished(&dialog, &QDialog::finished);
  dialog.show();
  Click(dialog, CNewWizDialog::kNextId);
  Click(dialog, CNewWizDialog::kNextId);
  Click(dialog, CNewWizDialog::kBackId);
  wizard.Symbol()->LibraryBox()->SetText(QString());
  Click(dialog, CNewWizDialog::kFinishId);
  QCOMPARE(prompter_.Texts(), QStringList{"符号库不能为空"});
  QCOMPARE(finished.count(), 0);
  QCOMPARE(QString::fromStdString(settings_.LibPath), Dir("MapGIS 系统库/Slib"));
}

void WizardPagesTest::exportPage_data() {
  QTest::addColumn<bool>("beside");
  QTest::addColumn<QString>("box");
  QTest::addColumn<int>("codePage");
  QTest::addColumn<QString>("message");
  QTest::addColumn<QString>("stored");
  QTest::newRow("beside the source files") << true << "@/没有这个目录" << 1 << "" << "";
  QTest::newRow("folder empty") << false << "" << 1 << "输出路径不能为空" << "";
  QTest::newRow("folder missing") << false << "@/没有这个目录" << 1 << "输出路径不存在，请重新输出" << "";
  QTest::newRow("a file, not a folder") << false << "@/一个文件.txt" << 0 << "输出路径不存在，请重新输出" << "";
  QTest::newRow("folder with spaces and Chinese, UTF-8") << false << "@/输出 成果/" << 1 << "" << "@/输出 成果";
  QTest::newRow("folder, ANSI") << false << "@/MapGIS 系统库" << 0 << "" << "@/MapGIS 系统库";
}

void WizardPagesTest::exportPage() {
  QFETCH(bool, beside);
  QFETCH(QString, box);
  QFETCH(int, codePage);
  QFETCH(QString, message);
  QFETCH(QString, stored);
  box.replace('@', tmp_->path());
  stored.replace('@', tmp_->path());
  settings_.CodePage = 1 - codePage;
  const Kvx::Settings before = settings_;

  Kvx::ConvertWizard wizard(Kvx::PageExport, settings_, prompter_);
  CNewWizDialog& dialog = wizard.Dialog();
  QSignalSpy finished(&dialog, &QDialog::finished);
  dialog.show();
  Kvx::CPageExport& page = *wizard.Export();
  QVERIFY(page.ToFolder()->isChecked());
  QCOMPARE(page.FolderBox()->Text(), Dir("输出 成果"));
  QVERIFY(page.Encoding(1 - codePage)->isChecked());
  QCOMPARE(page.Encoding(0)->text(), QStringLiteral("ANSI编码——默认编码格式，所有平台通用"));
  QCOMPARE(page.Encoding(1)->text(), QStringLiteral("UTF-8编码——ArcGIS 10.2.1以后缺省编码格式"));
  QCOMPARE(page.ToFolder()->text(), QStringLiteral("输出到指定目录"));
  QCOMPARE(page.BesideSource()->text(), QStringLiteral("输出到原文件目录"));

  page.FolderBox()->SetText(box);
  (beside ? page.BesideSource() : page.ToFolder())->setChecked(true);
  QCOMPARE(page.FolderBox()->isEnabled(), !beside);
  page.Encoding(codePage)->setChecked(true);
  Click(dialog, CNewWizDialog::kFinishId);
  if (message.isEmpty()) {
    QVERIFY(prompter_.messages.isEmpty());
    QCOMPARE(finished.count(), 1);
    QCOMPARE(dialog.result(), int(CNewWizDialog::kFinishId));
    QCOMPARE(QString::fromStdString(settings_.OutPath), stored);
    QCOMPARE(settings_.CodePage, codePage);
  } else {
    QCOMPARE(prompter_.Texts(), QStringList{message});
    QCOMPARE(prompter_.messages.front().caption, QStringLiteral("注意"));
    QCOMPARE(finished.count(), 0);
    QVERIFY(page.IsActive());
    QVERIFY(settings_ == before);
  }
}

// The target system and its seven parameters: what the page opens with, what it refuses, what it
// stores (an empty box: no reprojection).
void WizardPagesTest::targetSystemOnTheExportPage_data() {
  QTest::addColumn<QString>("target");
  QTest::addColumn<QString>("seven");
  QTest::addColumn<QString>("message");
  QTest::newRow("none") << "" << "" << "";
  QTest::newRow("authority code") << "EPSG:4490" << "" << "";
  QTest::newRow("with seven parameters") << " EPSG:4544 " << "-12.5,130.2,42.7,0.8,-1.2,2.5,-3.1" << "";
  QTest::newRow("PROJ string") << "+proj=longlat +ellps=GRS80 +no_defs +type=crs" << "" << "";
  QTest::newRow("unknown system") << "EPSG:999999" << "" << "目标坐标系无法识别，请重新输入";
  QTest::newRow("three numbers") << "EPSG:4490" << "1,2,3" << "七参数应为dx,dy,dz,rx,ry,rz,ds七个数，以逗号分隔";
}

void WizardPagesTest::targetSystemOnTheExportPage() {
  QFETCH(QString, target);
  QFETCH(QString, seven);
  QFETCH(QString, message);
  settings_.TargetCrs = "EPSG:4326";
  settings_.SevenParameters = "1,2,3,4,5,6,7";
  const Kvx::Settings before = settings_;
  Kvx::ConvertWizard wizard(Kvx::PageExport, settings_, prompter_);
  CNewWizDialog& dialog = wizard.Dialog();
  dialog.show();
  Kvx::CPageExport& page = *wizard.Export();
  QCOMPARE(page.TargetBox()->currentText(), QStringLiteral("EPSG:4326"));
  QCOMPARE(page.SevenParametersBox()->text(), QStringLiteral("1,2,3,4,5,6,7"));
  page.TargetBox()->setCurrentText(target);
  page.SevenParametersBox()->setText(seven);
  Click(dialog, CNewWizDialog::kFinishId);
  if (message.isEmpty()) {
    QVERIFY(prompter_.messages.isEmpty());
    QCOMPARE(QString::fromStdString(settings_.TargetCrs), target.trimmed());
    QCOMPARE(QString::fromStdString(settings_.SevenParameters), seven);
  } else {
    QCOMPARE(prompter_.Texts(), QStringList{message});
    QVERIFY(page.IsActive());
    QVERIFY(settings_ == before);
  }
}

// The output format: the page opens with the setting's choice and stores the one chosen.
void WizardPagesTest::formatOnTheExportPage() {
  for (const int stored : {0, 1}) {
    for (const int chosen : {0, 1}) {
      settings_.Format = stored;
      Kvx::ConvertWizard wizard(Kvx::PageExport, settings_, prompter_);
      wizard.Dialog().show();
      Kvx::CPageExport& page = *wizard.Export();
      QVERIFY(page.Format(stored)->isChecked());
      QVERIFY(!page.Format(1 - stored)->isChecked());
      page.Format(chosen)->setChecked(true);
      page.BesideSource()->setChecked(true);
      Click(wizard.Dialog(), CNewWizDialog::kFinishId);
      QVERIFY(prompter_.messages.isEmpty());
      QCOMPARE(settings_.Format, chosen);
    }
  }
}

void WizardPagesTest::besideSourceChoiceIsWhatTheNextWizardOpensWith() {
  {
    Kvx::ConvertWizard wizard(Kvx::PageProjection | Kvx::PageExport, settings_, prompter_);
    wizard.Dialog().show();
    Click(wizard.Dialog(), CNewWizDialog::kNextId);
    wizard.Export()->BesideSource()->setChecked(true);
    Click(wizard.Dialog(), CNewWizDialog::kFinishId);
  }
  QCOMPARE(settings_.OutPath, std::string());

  Kvx::ConvertWizard next(Kvx::PageExport, settings_, prompter_);
  next.Dialog().show();
  Kvx::CPageExport& page = *next.Export();
  QVERIFY(page.BesideSource()->isChecked());
  QVERIFY(!page.ToFolder()->isChecked());
  QVERIFY(!page.FolderBox()->isEnabled());
  QCOMPARE(page.FolderBox()->Text(), QString());
  // Choosing a folder again enables the folder box and its browse button.
  page.ToFolder()->setChecked(true);
  QVERIFY(page.FolderBox()->isEnabled());
  QVERIFY(page.FolderBox()->BrowseButton()->isEnabled());
}

void WizardPagesTest::browseOpensWhereTheBoxPoints() {
  settings_.WorkPath = Utf8(Dir("输出 成果"));
  settings_.OutPath.clear();
  Kvx::ConvertWizard wizard(Kvx::PageSymbol | Kvx::PageExport, settings_, prompter_);
  wizard.Dialog().show();
  // The library box names a folder not made yet: the browser opens in its nearest parent.
  wizard.Symbol()->LibraryBox()->SetText(Dir("MapGIS 系统库/Slib/新的"));
  prompter_.pickedFolders = {Dir("MapGIS 系统库")};
  wizard.Symbol()->LibraryBox()->BrowseButton()->click();
  QCOMPARE(wizard.Symbol()->LibraryBox()->Text(), Dir("MapGIS 系统库"));
  Click(wizard.Dialog(), CNewWizDialog::kNextId);
  // An empty output box opens in the work folder.
  wizard.Export()->ToFolder()->setChecked(true);
  wizard.Export()->FolderBox()->BrowseButton()->click();
  QCOMPARE(prompter_.browserStarts, (QStringList{Dir("MapGIS 系统库/Slib"), Dir("输出 成果")}));
  QCOMPARE(wizard.Export()->FolderBox()->Text(), QString());
}

QTEST_MAIN(WizardPagesTest)
#include "wizard_pages_qtest.moc"
