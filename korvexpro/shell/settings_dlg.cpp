#include "shell/settings_dlg.h"

#include <algorithm>

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QVBoxLayout>

#include "shell/dialog_paths.h"
#include "shell/theme_style.h"
#include "wendle/folder_edit.h"
#include "wendle/prompter.h"

namespace Kvx {

namespace {

// Characters that cannot stand in a file name here or on Windows, where the outputs often go.
const QString kBadNameCharacters = QStringLiteral("\\/:*?\"<>|");

// A check box over a stored flag: ticking gives 1 unless the flag held another non-zero value.
std::int32_t FlagOf(bool set, std::int32_t old) { return set ? (old != 0 ? old : 1) : 0; }

}  // namespace

// ---- 常规设置 -------------------------------------------------------------------------------------

CSheetGeneral::CSheetGeneral(Settings& settings, Wendle::Prompter& prompter, QWidget* parent)
    : CSettingsPage(parent), settings_(settings) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 16);
  layout->setSpacing(12);

  deleteEmpty_ = new QCheckBox(QStringLiteral("转换完成后自动删除结果中的空文件"), this);
  deleteEmpty_->setChecked(settings.ExportEmptyFile == 0);
  layout->addWidget(deleteEmpty_);

  auto* form = new QFormLayout;
  form->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
  workFolder_ = new Wendle::CFolderEdit(prompter, QStringLiteral("选择工作目录"), this);
  workFolder_->SetText(PathText(settings.WorkPath));
  form->addRow(QStringLiteral("工作目录"), workFolder_);
  theme_ = new QComboBox(this);
  for (std::string_view name : kThemeNames) theme_->addItem(QString::fromUtf8(name.data(), int(name.size())));
  theme_->setCurrentIndex(ValidThemeStyle(settings.ThemeStyle));
  form->addRow(QStringLiteral("界面主题"), theme_);
  layout->addLayout(form);

  autoUpdate_ = new QCheckBox(QStringLiteral("自动检查更新"), this);
  autoUpdate_->setChecked(settings.AutoUpdate != 0);
  layout->addWidget(autoUpdate_);
  layout->addStretch(1);
}

void CSheetGeneral::OnApply() {
  settings_.ExportEmptyFile = deleteEmpty_->isChecked() ? 0 : FlagOf(true, settings_.ExportEmptyFile);
  settings_.WorkPath = PathString(workFolder_->Folder());
  settings_.ThemeStyle = ValidThemeStyle(theme_->currentIndex());
  settings_.AutoUpdate = FlagOf(autoUpdate_->isChecked(), settings_.AutoUpdate);
}

// ---- 类型标识 -------------------------------------------------------------------------------------

const std::array<CSheetAffix::Mark, 9> CSheetAffix::kMarks = {{
    {"点标识", &Settings::Pntfix},
    {"注释标识", &Settings::Annofix},
    {"线标识", &Settings::Linfix},
    {"表格标识", &Settings::Wbfix},
    {"面标识", &Settings::Regfix},
    {"弧段标识", &Settings::Arcfix},
    {"网络标识", &Settings::Netfix},
    {"结点标识", &Settings::Nodefix},
    {"工程标识", &Settings::Mpjfix},
}};

CSheetAffix::CSheetAffix(Settings& settings, Wendle::Prompter& prompter, QWidget* parent)
    : CSettingsPage(parent), settings_(settings), prompter_(prompter) {
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 16, 16, 16);
  layout->setSpacing(12);

  auto* placeBox = new QGroupBox(QStringLiteral("标识位置"), this);
  auto* placeRow = new QHBoxLayout(placeBox);
  const char* placeTexts[] = {"无", "前缀", "后缀"};
  for (int i = 0; i < 3; ++i) {
    placement_[i] = new QRadioButton(QString::fromUtf8(placeTexts[i]), placeBox);
    placeRow->addWidget(placement_[i]);
    placeRow->addSpacing(16);
  }
  placeRow->addStretch(1);
  const int type = settings.AffixType;
  placement_[type >= 0 && type <= 2 ? type : 1]->setChecked(true);
  layout->addWidget(placeBox);

  auto* marksBox = new QGroupBox(QStringLiteral("类型标识"), this);
  auto* grid = new QGridLayout(marksBox);
  grid->setHorizontalSpacing(12);
  for (int i = 0; i < int(kMarks.size()); ++i) {
    auto* label = new QLabel(QString::fromUtf8(kMarks[i].label), marksBox);
    marks_[i] = new QLineEdit(QString::fromStdString(settings.*kMarks[i].member), marksBox);
    marks_[i]->setMaxLength(32);
    label->setBuddy(marks_[i]);
    const int row = i / 2;
    const int column = (i % 2) * 2;
    grid->addWidget(label, row, column);
    grid->addWidget(marks_[i], row, column + 1);
  }
  grid->setColumnStretch(1, 1);
  grid->setColumnStretch(3, 1);
  grid->setColumnMinimumWidth(2, 80);
  layout->addWidget(marksBox);
  layout->addStretch(1);

  // Tab order: placement, then the marks row by row as they are laid out.
  QWidget* previous = placement_[2];
  for (QLineEdit* box : marks_) {
    setTabOrder(previous, box);
    previous = box;
  }
}

QRadioButton* CSheetAffix::Placement(int affixType) const {
  return affixType >= 0 && affixType <= 2 ? placement_[affixType] : nullptr;
}

bool CSheetAffix::OnValidate() {
  for (int i = 0; i < int(kMarks.size()); ++i) {
    const QString text = marks_[i]->text();
    const bool bad = std::any_of(text.begin(), text.end(), [](QChar c) {
      return kBadNameCharacters.contains(c) || c.category() == QChar::Other_Control;
    });
    if (bad) {
      prompter_.Message(this, Wendle::MessageIcon::Warning, QStringLiteral("注意"),
                        QStringLiteral("%1不能包含字符 \\ / : * ? \" < > |").arg(QString::fromUtf8(kMarks[i].label)));
      marks_[i]->setFocus();
      marks_[i]->selectAll();
      return false;
    }
  }
  return true;
}

void CSheetAffix::OnApply() {
  for (int i = 0; i < 3; ++i) {
    if (placement_[i]->isChecked()) settings_.AffixType = i;
  }
  for (int i = 0; i < int(kMarks.size()); ++i) settings_.*kMarks[i].member = marks_[i]->text().toStdString();
}

// ---- 高级设置 -------------------------------------------------------------------------------------

CSettingsDlg::CSettingsDlg(Settings& settings, Wendle::Prompter& prompter, QWidget* parent)
    : CSettingsDialog(parent) {
  setWindowTitle(QStringLiteral("高级设置"));
  general_ = new CSheetGeneral(settings, prompter, this);
  affix_ = new CSheetAffix(settings, prompter, this);
  AddPage(general_, QStringLiteral("常规设置"));
  AddPage(affix_, QStringLiteral("类型标识"));
}

bool RunSettingsDialog(Settings& settings, Wendle::Prompter& prompter, std::int32_t themeInUse,
                       const std::function<void(std::int32_t)>& applyTheme, QWidget* parent) {
  CSettingsDlg dialog(settings, prompter, parent);
  if (dialog.exec() != QDialog::Accepted) return false;
  if (settings.ThemeStyle != themeInUse && applyTheme) applyTheme(settings.ThemeStyle);
  return true;
}

}  // namespace Kvx
