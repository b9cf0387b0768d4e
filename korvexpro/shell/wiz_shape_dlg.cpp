#include "shell/wiz_shape_dlg.h"

#include <array>

#include <QButtonGroup>
#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPalette>
#include <QRadioButton>
#include <QVBoxLayout>

#include "projection/reprojection.h"
#include "shell/dialog_paths.h"
#include "wendle/folder_edit.h"
#include "wendle/prompter.h"

namespace Kvx {

namespace {

const QString kNotice = QStringLiteral("注意");

// A group of radio buttons with the ids 0, 1, …; `checked` outside the range checks `fallback`.
QButtonGroup* AddChoices(QWidget* owner, QBoxLayout* layout, std::initializer_list<const char*> texts, int checked,
                         int fallback) {
  auto* group = new QButtonGroup(owner);
  int id = 0;
  for (const char* text : texts) {
    auto* button = new QRadioButton(QString::fromUtf8(text), owner);
    group->addButton(button, id++);
    layout->addWidget(button);
  }
  QAbstractButton* button = group->button(checked);
  if (button == nullptr) button = group->button(fallback);
  button->setChecked(true);
  return group;
}

QRadioButton* ChoiceOf(const QButtonGroup* group, int value) {
  return group != nullptr ? qobject_cast<QRadioButton*>(group->button(value)) : nullptr;
}

// A grey explanation under a radio button, indented to its text.
QLabel* Explanation(QWidget* owner, const char* text) {
  auto* label = new QLabel(QString::fromUtf8(text), owner);
  label->setContentsMargins(24, 0, 0, 6);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(0x55, 0x55, 0x55));
  label->setPalette(palette);
  return label;
}

}  // namespace

// ---- CPageProject -----------------------------------------------------------------------------

CPageProject::CPageProject(Settings& settings)
    : CNewWizPage(QStringLiteral("空间参考输出方式")), settings_(settings) {}

bool CPageProject::OnCreatePage() {
  auto* layout = new QVBoxLayout(Body());
  layout->setContentsMargins(8, 4, 8, 4);
  layout->setSpacing(4);
  static constexpr std::array<const char*, 3> kTexts = {
      "不输出空间参考信息（适用用户自定义坐标系）",
      "使用原始比例和坐标单位",
      "生成标准空间参考信息（推荐！原文件必须包含正确投影坐标）",
  };
  static constexpr std::array<const char*, 3> kExplanations = {
      "保持MapGIS原有坐标范围，不输出投影文件。",
      "保持原始MapGIS文件比例尺和坐标单位，生成兼容投影文件。",
      "自动将原始MapGIS文件比例尺转换为1：1，坐标单位改为米，生成\n标准ArcGIS投影文件。",
  };
  choices_ = new QButtonGroup(Body());
  for (int i = 0; i < 3; ++i) {
    auto* button = new QRadioButton(QString::fromUtf8(kTexts[i]), Body());
    choices_->addButton(button, i);
    layout->addWidget(button);
    layout->addWidget(Explanation(Body(), kExplanations[i]));
  }
  const int value = settings_.ExportProjection;
  choices_->button(value >= 0 && value <= 2 ? value : 1)->setChecked(true);
  layout->addStretch(1);
  return true;
}

void CPageProject::OnDestroyPage() { choices_ = nullptr; }

QRadioButton* CPageProject::Choice(int value) const { return ChoiceOf(choices_, value); }

void CPageProject::Store() {
  if (choices_ != nullptr) settings_.ExportProjection = choices_->checkedId();
}

int CPageProject::OnWizardNext() {
  Store();
  return 0;
}

bool CPageProject::OnWizardFinish() {
  Store();
  return true;
}

// ---- CPageSymbol ------------------------------------------------------------------------------

CPageSymbol::CPageSymbol(Settings& settings, Wendle::Prompter& prompter)
    : CNewWizPage(QStringLiteral("MapGIS系统库")), settings_(settings), prompter_(prompter) {}

bool CPageSymbol::OnCreatePage() {
  auto* layout = new QVBoxLayout(Body());
  layout->setContentsMargins(8, 4, 8, 4);
  layout->setSpacing(12);

  auto* folderRow = new QHBoxLayout;
  auto* label = new QLabel(QStringLiteral("系统库目录"), Body());
  library_ = new Wendle::CFolderEdit(prompter_, QStringLiteral("选择MapGIS系统库目录"), Body());
  library_->SetText(PathText(settings_.LibPath));
  label->setBuddy(library_->LineEdit());
  folderRow->addWidget(label);
  folderRow->addWidget(library_, 1);
  layout->addLayout(folderRow);

  auto* colourBox = new QGroupBox(QStringLiteral("颜色输出格式"), Body());
  auto* colourRow = new QHBoxLayout(colourBox);
  colours_ = AddChoices(colourBox, colourRow, {"RGB颜色", "CMYK颜色", "MapGIS色号"}, settings_.ColorModel, 0);
  colourRow->addStretch(1);
  layout->addWidget(colourBox);

  auto* angleBox = new QGroupBox(QStringLiteral("角度模型"), Body());
  auto* angleRow = new QHBoxLayout(angleBox);
  angles_ = AddChoices(angleBox, angleRow, {"数学角度", "地理角度", "图形角度"}, settings_.RotateType, 0);
  angleRow->addStretch(1);
  layout->addWidget(angleBox);
  layout->addStretch(1);
  return true;
}

void CPageSymbol::OnDestroyPage() {
  library_ = nullptr;
  colours_ = nullptr;
  angles_ = nullptr;
}

QRadioButton* CPageSymbol::ColourChoice(int value) const { return ChoiceOf(colours_, value); }
QRadioButton* CPageSymbol::AngleChoice(int value) const { return ChoiceOf(angles_, value); }

bool CPageSymbol::CheckAndStore() {
  if (library_ == nullptr) return true;
  const QString folder = library_->Folder();
  if (folder.isEmpty()) {
    prompter_.Message(this, Wendle::MessageIcon::Warning, kNotice, QStringLiteral("符号库不能为空"));
    library_->LineEdit()->setFocus();
    return false;
  }
  if (!QFileInfo(folder).isDir()) {
    prompter_.Message(this, Wendle::MessageIcon::Warning, kNotice, QStringLiteral("符号库文件不存在，请重新输出"));
    library_->LineEdit()->setFocus();
    return false;
  }
  settings_.LibPath = PathString(folder);
  settings_.ColorModel = colours_->checkedId();
  settings_.RotateType = angles_->checkedId();
  return true;
}

int CPageSymbol::OnWizardNext() { return CheckAndStore() ? 0 : -1; }

bool CPageSymbol::OnWizardFinish() { return CheckAndStore(); }

// ---- CPageExport ------------------------------------------------------------------------------

CPageExport::CPageExport(Settings& settings, Wendle::Prompter& prompter)
    : CNewWizPage(QStringLiteral("输出设置")), settings_(settings), prompter_(prompter) {}

bool CPageExport::OnCreatePage() {
  auto* layout = new QVBoxLayout(Body());
  layout->setContentsMargins(8, 4, 8, 4);
  layout->setSpacing(12);

  auto* whereBox = new QGroupBox(QStringLiteral("输出位置"), Body());
  auto* where = new QGridLayout(whereBox);
  toFolder_ = new QRadioButton(QStringLiteral("输出到指定目录"), whereBox);
  besideSource_ = new QRadioButton(QStringLiteral("输出到原文件目录"), whereBox);
  auto* whereGroup = new QButtonGroup(whereBox);
  whereGroup->addButton(toFolder_);
  whereGroup->addButton(besideSource_);
  auto* choices = new QHBoxLayout;
  choices->addWidget(toFolder_);
  choices->addSpacing(24);
  choices->addWidget(besideSource_);
  choices->addStretch(1);
  where->addLayout(choices, 0, 0, 1, 2);
  folderLabel_ = new QLabel(QStringLiteral("指定路径"), whereBox);
  folder_ = new Wendle::CFolderEdit(prompter_, QStringLiteral("选择输出目录"), whereBox);
  folder_->SetFallbackFolder(PathText(settings_.WorkPath));
  folderLabel_->setBuddy(folder_->LineEdit());
  where->addWidget(folderLabel_, 1, 0);
  where->addWidget(folder_, 1, 1);
  where->setColumnStretch(1, 1);
  layout->addWidget(whereBox);

  auto* encodingBox = new QGroupBox(QStringLiteral("文本编码"), Body());
  auto* encodingColumn = new QVBoxLayout(encodingBox);
  encodings_ = AddChoices(encodingBox, encodingColumn,
                          {"ANSI编码——默认编码格式，所有平台通用", "UTF-8编码——ArcGIS 10.2.1以后缺省编码格式"},
                          settings_.CodePage, 0);
  layout->addWidget(encodingBox);

  auto* formatBox = new QGroupBox(QStringLiteral("输出格式"), Body());
  auto* formatRow = new QHBoxLayout(formatBox);
  formats_ = AddChoices(formatBox, formatRow, {"Shapefile——每个图层一组.shp文件", "GeoPackage——每个工程一个.gpkg文件"},
                        settings_.Format, 0);
  layout->addWidget(formatBox);

  // Reprojection: an authority code, a WKT text or a PROJ string; empty keeps the layer's system.
  auto* crsBox = new QGroupBox(QStringLiteral("坐标转换"), Body());
  auto* crs = new QGridLayout(crsBox);
  target_ = new QComboBox(crsBox);
  target_->setEditable(true);
  target_->addItems({QString(), QStringLiteral("EPSG:4490"), QStringLiteral("EPSG:4544"), QStringLiteral("EPSG:4326")});
  target_->setItemData(1, QStringLiteral("CGCS2000 地理坐标"), Qt::ToolTipRole);
  target_->setItemData(2, QStringLiteral("CGCS2000 3度带高斯-克吕格 中央经线105°"), Qt::ToolTipRole);
  target_->setItemData(3, QStringLiteral("WGS 84 地理坐标"), Qt::ToolTipRole);
  target_->lineEdit()->setPlaceholderText(QStringLiteral("不转换（如 EPSG:4490）"));
  target_->setCurrentText(QString::fromStdString(settings_.TargetCrs));
  seven_ = new QLineEdit(QString::fromStdString(settings_.SevenParameters), crsBox);
  seven_->setPlaceholderText(QStringLiteral("dx,dy,dz,rx,ry,rz,ds（可选）"));
  seven_->setToolTip(QStringLiteral("源坐标系基准面到目标基准面的七参数：平移（米），旋转（秒，位置矢量约定），尺度（ppm）"));
  auto* targetLabel = new QLabel(QStringLiteral("目标坐标系"), crsBox);
  targetLabel->setBuddy(target_);
  auto* sevenLabel = new QLabel(QStringLiteral("七参数"), crsBox);
  sevenLabel->setBuddy(seven_);
  crs->addWidget(targetLabel, 0, 0);
  crs->addWidget(target_, 0, 1);
  crs->addWidget(sevenLabel, 0, 2);
  crs->addWidget(seven_, 0, 3);
  crs->setColumnStretch(1, 1);
  crs->setColumnStretch(3, 1);
  layout->addWidget(crsBox);
  layout->addStretch(1);

  if (settings_.OutPath.empty()) {
    besideSource_->setChecked(true);
  } else {
    toFolder_->setChecked(true);
    folder_->SetText(PathText(settings_.OutPath));
  }
  connect(toFolder_, &QRadioButton::toggled, this, [this] { UpdateFolderControls(); });
  UpdateFolderControls();
  return true;
}

void CPageExport::OnDestroyPage() {
  toFolder_ = nullptr;
  besideSource_ = nullptr;
  folderLabel_ = nullptr;
  folder_ = nullptr;
  encodings_ = nullptr;
  formats_ = nullptr;
  target_ = nullptr;
  seven_ = nullptr;
}

QRadioButton* CPageExport::Encoding(int codePage) const { return ChoiceOf(encodings_, codePage); }
QRadioButton* CPageExport::Format(int format) const { return ChoiceOf(formats_, format); }

void CPageExport::UpdateFolderControls() {
  const bool enabled = toFolder_->isChecked();
  folderLabel_->setEnabled(enabled);
  folder_->setEnabled(enabled);
}

bool CPageExport::OnWizardFinish() {
  if (folder_ == nullptr) return true;
  QString out;
  if (toFolder_->isChecked()) {
    out = folder_->Folder();
    if (out.isEmpty()) {
      prompter_.Message(this, Wendle::MessageIcon::Warning, kNotice, QStringLiteral("输出路径不能为空"));
      folder_->LineEdit()->setFocus();
      return false;
    }
    if (!QFileInfo(out).isDir()) {
      prompter_.Message(this, Wendle::MessageIcon::Warning, kNotice, QStringLiteral("输出路径不存在，请重新输出"));
      folder_->LineEdit()->setFocus();
      return false;
    }
  }
  const QString target = target_->currentText().trimmed();
  if (!target.isEmpty() && !CheckCrsText(target.toStdString()).empty()) {
    prompter_.Message(this, Wendle::MessageIcon::Warning, kNotice, QStringLiteral("目标坐标系无法识别，请重新输入"));
    target_->setFocus();
    return false;
  }
  const QString seven = seven_->text().trimmed();
  if (!seven.isEmpty() && !ParseSevenParameters(seven.toStdString())) {
    prompter_.Message(this, Wendle::MessageIcon::Warning, kNotice,
                      QStringLiteral("七参数应为dx,dy,dz,rx,ry,rz,ds七个数，以逗号分隔"));
    seven_->setFocus();
    return false;
  }
  settings_.CodePage = encodings_->checkedId();
  settings_.Format = formats_->checkedId();
  settings_.OutPath = PathString(out);
  settings_.TargetCrs = target.toStdString();
  settings_.SevenParameters = seven.toStdString();
  return true;
}

// ---- The wizard -------------------------------------------------------------------------------

CWizShapeDlg::CWizShapeDlg(QWidget* parent) : CNewWizDialog(parent) {
  SetTitle(QStringLiteral("转换向导"));
  SetButtonTexts(QStringLiteral("<上一步"), QStringLiteral("下一步>"), QStringLiteral("转换"), QStringLiteral("取消"));
  SetPageAreaSize(QSize(600, 390));
}

ConvertWizard::ConvertWizard(unsigned pages, Settings& settings, Wendle::Prompter& prompter, QWidget* parent) {
  if (pages & PageProjection) project_ = std::make_unique<CPageProject>(settings);
  if (pages & PageSymbol) symbol_ = std::make_unique<CPageSymbol>(settings, prompter);
  if (pages & PageExport) export_ = std::make_unique<CPageExport>(settings, prompter);
  dialog_ = std::make_unique<CWizShapeDlg>(parent);
  if (project_) dialog_->AddPage(project_.get(), PageProjection);
  if (symbol_) dialog_->AddPage(symbol_.get(), PageSymbol);
  if (export_) dialog_->AddPage(export_.get(), PageExport);
}

ConvertWizard::~ConvertWizard() { dialog_.reset(); }

bool ConvertWizard::Run() { return dialog_->exec() == Wendle::CNewWizDialog::kFinishId; }

bool RunConvertWizard(const BatchCommand& command, Settings& settings, Wendle::Prompter& prompter, QWidget* parent) {
  settings.SymbolType = command.symbolType;
  if ((command.pages & (PageProjection | PageSymbol | PageExport)) == 0) return true;
  ConvertWizard wizard(command.pages, settings, prompter, parent);
  return wizard.Run();
}

}  // namespace Kvx
