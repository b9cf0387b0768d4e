#pragma once

// The settings dialog "高级设置" (command "系统参数设置") with its pages "常规设置" and "类型标识".
// Each page copies the Settings it is given into its controls when it is made; OK copies every
// control back, Cancel leaves every setting as it was.

#include <array>
#include <functional>

#include "settings/settings.h"
#include "wendle/settings_dialog.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QRadioButton;

namespace Wendle {
class CFolderEdit;
class Prompter;
}  // namespace Wendle

namespace Kvx {

// "常规设置": ExportEmptyFile (shown inverted: ticked deletes empty results), WorkPath, ThemeStyle and
// AutoUpdate.
class CSheetGeneral : public Wendle::CSettingsPage {
  Q_OBJECT

 public:
  CSheetGeneral(Settings& settings, Wendle::Prompter& prompter, QWidget* parent = nullptr);
  void OnApply() override;

  QCheckBox* DeleteEmptyBox() const { return deleteEmpty_; }
  Wendle::CFolderEdit* WorkFolderBox() const { return workFolder_; }
  QComboBox* ThemeBox() const { return theme_; }
  QCheckBox* AutoUpdateBox() const { return autoUpdate_; }

 private:
  Settings& settings_;
  QCheckBox* deleteEmpty_;
  Wendle::CFolderEdit* workFolder_;
  QComboBox* theme_;
  QCheckBox* autoUpdate_;
};

// "类型标识": AffixType and the nine kind marks.
class CSheetAffix : public Wendle::CSettingsPage {
  Q_OBJECT

 public:
  // The marks in the order of their boxes.
  struct Mark {
    const char* label;
    std::string Settings::*member;
  };
  static const std::array<Mark, 9> kMarks;

  CSheetAffix(Settings& settings, Wendle::Prompter& prompter, QWidget* parent = nullptr);
  // A mark holding a character that cannot stand in a file name is refused.
  bool OnValidate() override;
  void OnApply() override;

  QRadioButton* Placement(int affixType) const;
  // The box of kMarks[index].
  QLineEdit* MarkBox(int index) const { return marks_[index]; }

 private:
  Settings& settings_;
  Wendle::Prompter& prompter_;
  std::array<QRadioButton*, 3> placement_{};
  std::array<QLineEdit*, 9> marks_{};
};

class CSettingsDlg : public Wendle::CSettingsDialog {
  Q_OBJECT

 public:
  CSettingsDlg(Settings& settings, Wendle::Prompter& prompter, QWidget* parent = nullptr);
  CSheetGeneral* General() const { return general_; }
  CSheetAffix* Affix() const { return affix_; }

 private:
  CSheetGeneral* general_;
  CSheetAffix* affix_;
};

// Runs "高级设置" over `settings`; true when the user confirmed with OK. After OK, when ThemeStyle
// differs from `themeInUse`, `applyTheme` is called with the new theme (the main window draws it
// and stores it with SaveThemeStyle).
bool RunSettingsDialog(Settings& settings, Wendle::Prompter& prompter, std::int32_t themeInUse,
                       const std::function<void(std::int32_t)>& applyTheme, QWidget* parent = nullptr);

}  // namespace Kvx
