#include "wendle/settings_dialog.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace Wendle {

CSettingsPage::CSettingsPage(QWidget* parent) : QWidget(parent) {}
bool CSettingsPage::OnValidate() { return true; }
void CSettingsPage::OnApply() {}

CSettingsDialog::CSettingsDialog(QWidget* parent) : QDialog(parent) {
  auto* layout = new QVBoxLayout(this);
  tabs_ = new QTabWidget(this);
  layout->addWidget(tabs_, 1);
  auto* box = new QDialogButtonBox(this);
  ok_ = box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
  cancel_ = box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  ok_->setDefault(true);
  layout->addWidget(box);
  connect(box, &QDialogButtonBox::accepted, this, &CSettingsDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &CSettingsDialog::reject);
}

int CSettingsDialog::AddPage(CSettingsPage* page, const QString& name) { return tabs_->addTab(page, name); }
int CSettingsDialog::PageCount() const { return tabs_->count(); }
CSettingsPage* CSettingsDialog::Page(int index) const { return qobject_cast<CSettingsPage*>(tabs_->widget(index)); }
QString CSettingsDialog::PageName(int index) const { return tabs_->tabText(index); }
int CSettingsDialog::CurrentPage() const { return tabs_->currentIndex(); }
void CSettingsDialog::SetCurrentPage(int index) { tabs_->setCurrentIndex(index); }

void CSettingsDialog::accept() {
  for (int i = 0; i < PageCount(); ++i) {
    if (!Page(i)->OnValidate()) {
      SetCurrentPage(i);
      return;
    }
  }
  for (int i = 0; i < PageCount(); ++i) Page(i)->OnApply();
  QDialog::accept();
}

}  // namespace Wendle
