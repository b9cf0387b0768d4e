#include "wendle/new_wiz_dialog.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QVBoxLayout>

#include "wendle/fonts.h"

namespace Wendle {

// ---- CNewWizPage ----------------------------------------------------------------------------------

CNewWizPage::CNewWizPage(const QString& title) : QWidget(nullptr), title_(title) { hide(); }

CNewWizPage::~CNewWizPage() {
  if (listedIn_ != nullptr) listedIn_->ForgetPage(this);
}

void CNewWizPage::SetTitle(const QString& title) {
  title_ = title;
  if (titleLabel_ != nullptr) titleLabel_->setText(title);
}

void CNewWizPage::OnCancel() {}
bool CNewWizPage::OnCreatePage() { return true; }
void CNewWizPage::OnDestroyPage() {}
bool CNewWizPage::OnKillActive() { return true; }
void CNewWizPage::OnSetActive() {}
bool CNewWizPage::OnQueryCancel() { return true; }
int CNewWizPage::OnWizardBack() { return 0; }
int CNewWizPage::OnWizardNext() { return 0; }
bool CNewWizPage::OnWizardFinish() { return true; }

void CNewWizPage::BuildWindow(CNewWizDialog* wizard, QWidget* area) {
  setParent(area);
  hide();
  // White page: the background and, through the palette, the controls placed on it.
  QPalette white = palette();
  white.setColor(QPalette::Window, Qt::white);
  white.setColor(QPalette::Base, Qt::white);
  setPalette(white);
  setAutoFillBackground(true);

  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(16, 12, 16, 12);
  layout->setSpacing(10);
  titleLabel_ = new QLabel(title_, this);
  titleLabel_->setFont(PageTitleFont());
  titleLabel_->setWordWrap(true);
  layout->addWidget(titleLabel_);
  body_ = new QWidget(this);
  layout->addWidget(body_, 1);

  created_ = true;
  wizard_ = wizard;
}

void CNewWizPage::DestroyWindow() {
  hide();
  active_ = false;
  created_ = false;
  delete layout();
  delete titleLabel_;
  delete body_;
  titleLabel_ = nullptr;
  body_ = nullptr;
  setParent(nullptr);
}

void CNewWizPage::Detach() {
  hide();
  active_ = false;
  setParent(nullptr);
}

// ---- CNewWizDialog --------------------------------------------------------------------------------

CNewWizDialog::CNewWizDialog(QWidget* parent) : QDialog(parent) {
  auto* layout = new QVBoxLayout(this);
  pageArea_ = new QWidget(this);
  pageLayout_ = new QVBoxLayout(pageArea_);
  pageLayout_->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(pageArea_, 1);

  auto* line = new QFrame(this);
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  layout->addWidget(line);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  back_ = new QPushButton(QStringLiteral("< 上一步"), this);
  next_ = new QPushButton(QStringLiteral("下一步 >"), this);
  finish_ = new QPushButton(QStringLiteral("完成"), this);
  cancel_ = new QPushButton(QStringLiteral("取消"), this);
  buttons->addWidget(back_);
  buttons->addWidget(next_);
  buttons->addSpacing(8);
  buttons->addWidget(finish_);
  buttons->addWidget(cancel_);
  layout->addLayout(buttons);

  connect(back_, &QPushButton::clicked, this, [this] { OnWizardBack(); });
  connect(next_, &QPushButton::clicked, this, [this] { OnWizardNext(); });
  connect(finish_, &QPushButton::clicked, this, [this] { OnWizardFinish(); });
  connect(cancel_, &QPushButton::clicked, this, [this] { reject(); });
  setModal(true);
}

CNewWizDialog::~CNewWizDialog() {
  DestroyPages();
  // Pages that kept their controls leave with them; the page objects are their owner's.
  for (CNewWizPage* page : pages_) {
    if (page->parentWidget() != nullptr) page->Detach();
    page->listedIn_ = nullptr;
    if (page->wizard_ == this) page->wizard_ = nullptr;
  }
}

bool CNewWizDialog::AddPage(CNewWizPage* page, int key) {
  if (page == nullptr || page->listedIn_ != nullptr) return false;
  page->key_ = key;
  page->listedIn_ = this;
  pages_.append(page);
  return true;
}

void CNewWizDialog::SetTitle(const QString& title) { setWindowTitle(title); }
void CNewWizDialog::SetFinishText(const QString& text) { finish_->setText(text); }

void CNewWizDialog::SetButtonTexts(const QString& back, const QString& next, const QString& finish,
                                   const QString& cancel) {
  back_->setText(back);
  next_->setText(next);
  finish_->setText(finish);
  cancel_->setText(cancel);
}

void CNewWizDialog::SetPageAreaSize(const QSize& size) { pageArea_->setMinimumSize(size); }

void CNewWizDialog::EnableBack(bool enable) { back_->setEnabled(enable); }
void CNewWizDialog::EnableNext(bool enable) {
  next_->setEnabled(enable);
  UpdateDefaultButton();
}
void CNewWizDialog::EnableFinish(bool enable) {
  finish_->setEnabled(enable);
  UpdateDefaultButton();
}

// Enter presses Next while it is enabled, otherwise Finish.
void CNewWizDialog::UpdateDefaultButton() {
  if (next_->isEnabled()) {
    next_->setDefault(true);
  } else if (finish_->isEnabled()) {
    finish_->setDefault(true);
  } else {
    next_->setDefault(false);
    finish_->setDefault(false);
  }
}

int CNewWizDialog::GetActiveIndex() const {
  for (int i = 0; i < pages_.size(); ++i) {
    if (pages_[i]->active_) return i;
  }
  return -1;
}

int CNewWizDialog::GetPageIndex(const CNewWizPage* page) const {
  for (int i = 0; i < pages_.size(); ++i) {
    if (pages_[i] == page) return i;
  }
  return -1;
}

CNewWizPage* CNewWizDialog::GetPage(int index) const {
  return index >= 0 && index < pages_.size() ? pages_[index] : nullptr;
}

CNewWizPage* CNewWizDialog::ShownPage() const { return GetPage(GetActiveIndex()); }

int CNewWizDialog::IndexOfKey(int key) const {
  for (int i = 0; i < pages_.size(); ++i) {
    if (pages_[i]->key_ == key) return i;
  }
  return -1;
}

bool CNewWizDialog::SetActivePage(int index) {
  CNewWizPage* page = GetPage(index);
  return page != nullptr && ActivatePage(page);
}

bool CNewWizDialog::SetActivePage(CNewWizPage* page) { return SetActivePage(GetPageIndex(page)); }

bool CNewWizDialog::SetActivePageByResource(int key) { return SetActivePage(IndexOfKey(key)); }

QPushButton* CNewWizDialog::Button(int id) const {
  switch (id) {
    case kBackId: return back_;
    case kNextId: return next_;
    case kFinishId: return finish_;
    case QDialog::Rejected: return cancel_;
    default: return nullptr;
  }
}

bool CNewWizDialog::ActivatePage(CNewWizPage* page) {
  CNewWizPage* shown = ShownPage();
  if (page == shown) return true;
  // The shown page is asked first: when it refuses, the target stays as it was (not created).
  if (shown != nullptr && !shown->OnKillActive()) return false;
  if (!page->created_) {
    page->BuildWindow(this, pageArea_);
    pageLayout_->addWidget(page);
    if (!page->OnCreatePage()) {
      // A page that could not set itself up is taken down again, so it is as it was before.
      pageLayout_->removeWidget(page);
      page->DestroyWindow();
      page->wizard_ = nullptr;
      return false;
    }
  }
  if (shown != nullptr) {
    shown->hide();
    shown->active_ = false;
  }
  page->setEnabled(true);
  page->show();
  page->update();
  page->OnSetActive();
  page->active_ = true;
  return true;
}

void CNewWizDialog::InitWizard() {
  if (CNewWizPage* shown = ShownPage()) {
    if (!shown->OnKillActive()) return;
    shown->hide();
    shown->active_ = false;
  }
  EnableBack(false);
  if (pages_.size() < 2) {
    EnableFinish(true);
    EnableNext(false);
  } else {
    EnableFinish(false);
    EnableNext(true);
  }
  if (!pages_.isEmpty()) ActivatePage(pages_.front());
}

void CNewWizDialog::OnWizardNext() {
  CNewWizPage* shown = ShownPage();
  if (shown == nullptr) return;
  const int answer = shown->OnWizardNext();
  if (answer == -1) return;
  const int target = answer == 0 ? GetActiveIndex() + 1 : IndexOfKey(answer);
  if (target < 0 || target >= pages_.size()) return;
  if (!ActivatePage(pages_[target])) return;
  if (target == pages_.size() - 1) {
    EnableNext(false);
    EnableFinish(true);
  }
  EnableBack(true);
}

void CNewWizDialog::OnWizardBack() {
  CNewWizPage* shown = ShownPage();
  if (shown == nullptr) return;
  const int answer = shown->OnWizardBack();
  if (answer == -1) return;
  const int target = answer == 0 ? GetActiveIndex() - 1 : IndexOfKey(answer);
  if (target < 0 || target >= pages_.size()) return;
  if (!ActivatePage(pages_[target])) return;
  if (target == 0) {
    EnableBack(false);
    EnableFinish(false);
  }
  EnableNext(true);
}

void CNewWizDialog::OnWizardFinish() {
  if (CNewWizPage* shown = ShownPage(); shown != nullptr && !shown->OnKillActive()) return;
  // A page may leave the list while it is asked; walk a copy.
  const QList<CNewWizPage*> pages = pages_;
  for (CNewWizPage* page : pages) {
    if (page->created_ && !page->OnWizardFinish()) return;
  }
  done(kFinishId);
}

void CNewWizDialog::reject() {
  const QList<CNewWizPage*> pages = pages_;
  for (CNewWizPage* page : pages) {
    if (page->created_ && !page->OnQueryCancel()) return;
  }
  QDialog::reject();
}

void CNewWizDialog::done(int result) {
  QDialog::done(result);
  DestroyPages();
}

void CNewWizDialog::setVisible(bool visible) {
  if (visible && !isVisible()) InitWizard();
  QDialog::setVisible(visible);
}

void CNewWizDialog::DestroyPages() {
  const QList<CNewWizPage*> pages = pages_;
  for (CNewWizPage* page : pages) {
    if (!page->created_ || !page->OnKillActive()) continue;
    page->OnDestroyPage();
    pageLayout_->removeWidget(page);
    page->DestroyWindow();
  }
}

void CNewWizDialog::ForgetPage(CNewWizPage* page) {
  pages_.removeAll(page);
  if (page->parentWidget() != nullptr) pageLayout_->removeWidget(page);
}

}  // namespace Wendle
