#pragma once

// The conversion wizard "转换向导" shown before a batch, and its three pages:
//  - CPageProject "空间参考输出方式": ExportProjection, stored when the user moves on;
//  - CPageSymbol "MapGIS系统库": LibPath, ColorModel and RotateType, stored when the user moves on
//    and the folder exists;
//  - CPageExport "输出设置": OutPath (empty: beside each source file), CodePage, Format, and the target
//    coordinate system with its seven parameters, stored on "转换" when the choices are sound.
// The pages read the Settings they are given when they are first shown and write them back only
// at those steps; a refusal shows why (caption "注意") and keeps the page shown.

#include <memory>

#include "batch/batch_driver.h"
#include "settings/settings.h"
#include "wendle/new_wiz_dialog.h"

class QButtonGroup;
class QComboBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace Wendle {
class CFolderEdit;
class Prompter;
}  // namespace Wendle

namespace Kvx {

class CPageProject : public Wendle::CNewWizPage {
  Q_OBJECT

 public:
  explicit CPageProject(Settings& settings);

  bool OnCreatePage() override;
  void OnDestroyPage() override;
  int OnWizardNext() override;
  bool OnWizardFinish() override;

  // The radio button of ExportProjection `value` (0 to 2); nullptr while the page is not created.
  QRadioButton* Choice(int value) const;

 private:
  void Store();

  Settings& settings_;
  QButtonGroup* choices_ = nullptr;
};

class CPageSymbol : public Wendle::CNewWizPage {
  Q_OBJECT

 public:
  CPageSymbol(Settings& settings, Wendle::Prompter& prompter);

  bool OnCreatePage() override;
  void OnDestroyPage() override;
  // Refused (-1) with "符号库不能为空" or "符号库文件不存在，请重新输出"; otherwise the values are stored.
  int OnWizardNext() override;
  bool OnWizardFinish() override;

  // nullptr while the page is not created.
  Wendle::CFolderEdit* LibraryBox() const { return library_; }
  QRadioButton* ColourChoice(int value) const;
  QRadioButton* AngleChoice(int value) const;

 private:
  bool CheckAndStore();

  Settings& settings_;
  Wendle::Prompter& prompter_;
  Wendle::CFolderEdit* library_ = nullptr;
  QButtonGroup* colours_ = nullptr;
  QButtonGroup* angles_ = nullptr;
};

class CPageExport : public Wendle::CNewWizPage {
  Q_OBJECT

 public:
  CPageExport(Settings& settings, Wendle::Prompter& prompter);

  bool OnCreatePage() override;
  void OnDestroyPage() override;
  // "输出到原文件目录" stores an empty OutPath; "输出到指定目录" is refused with "输出路径不能为空" or
  // "输出路径不存在，请重新输出", otherwise stores the folder. CodePage is stored with it.
  bool OnWizardFinish() override;

  // nullptr while the page is not created.
  QRadioButton* ToFolder() const { return toFolder_; }
  QRadioButton* BesideSource() const { return besideSource_; }
  Wendle::CFolderEdit* FolderBox() const { return folder_; }
  QRadioButton* Encoding(int codePage) const;
  // The output format: 0 shapefiles, 1 GeoPackage (setting Output/Format).
  QRadioButton* Format(int format) const;
  // The target system (empty: no reprojection) and the seven parameters of its datum shift.
  QComboBox* TargetBox() const { return target_; }
  QLineEdit* SevenParametersBox() const { return seven_; }

 private:
  void UpdateFolderControls();

  Settings& settings_;
  Wendle::Prompter& prompter_;
  QRadioButton* toFolder_ = nullptr;
  QRadioButton* besideSource_ = nullptr;
  QLabel* folderLabel_ = nullptr;
  Wendle::CFolderEdit* folder_ = nullptr;
  QButtonGroup* encodings_ = nullptr;
  QButtonGroup* formats_ = nullptr;
  QComboBox* target_ = nullptr;
  QLineEdit* seven_ = nullptr;
};

// "转换向导" with the buttons "<上一步", "下一步>", "转换" and "取消".
class CWizShapeDlg : public Wendle::CNewWizDialog {
  Q_OBJECT

 public:
  explicit CWizShapeDlg(QWidget* parent = nullptr);
};

// The wizard of one batch command with the pages it shows (WizardPages bits, each page keyed by
// its bit), in the order projection, symbol, export.
class ConvertWizard {
 public:
  ConvertWizard(unsigned pages, Settings& settings, Wendle::Prompter& prompter, QWidget* parent = nullptr);
  ConvertWizard(const ConvertWizard&) = delete;
  ConvertWizard& operator=(const ConvertWizard&) = delete;
  ~ConvertWizard();

  CWizShapeDlg& Dialog() { return *dialog_; }
  // nullptr for a page the command does not show.
  CPageProject* Projection() const { return project_.get(); }
  CPageSymbol* Symbol() const { return symbol_.get(); }
  CPageExport* Export() const { return export_.get(); }

  // Runs the wizard modally: true when the user left it with "转换".
  bool Run();

 private:
  // The pages come first, so they outlive the wizard window.
  std::unique_ptr<CPageProject> project_;
  std::unique_ptr<CPageSymbol> symbol_;
  std::unique_ptr<CPageExport> export_;
  std::unique_ptr<CWizShapeDlg> dialog_;
};

// What a conversion command does before its batch: sets the command's SymbolType (it stays set
// when the user cancels), then shows the command's wizard pages over `settings`. True when the user
// confirmed with "转换": the pages have stored their values and the batch should start (with
// OutPath as the output folder). A command without wizard pages starts at once.
bool RunConvertWizard(const BatchCommand& command, Settings& settings, Wendle::Prompter& prompter,
                      QWidget* parent = nullptr);

}  // namespace Kvx
