#pragma once

// The wizard frame: a modal dialog that shows one page of an ordered list at a time above the
// Back, Next, Finish and Cancel buttons.
//
// Pages belong to their owner, never to the wizard: the owner creates them (before the wizard, so
// they outlive it), adds them with AddPage(page, key) and runs the wizard with exec(); only a
// result of CNewWizDialog::kFinishId means the user finished it. A page's controls (its "window")
// are built only when the page is first shown: the frame gives it a white area with its bold title
// and calls OnCreatePage, where the page fills Body(). A page the user never reaches therefore never
// runs OnCreatePage, OnWizardFinish or OnQueryCancel.
//
// Button rules:
//  - opening: Back off; fewer than two pages: Finish on, Next off; otherwise Finish off, Next on;
//    then the first page is shown;
//  - Next: the shown page's OnWizardNext gives -1 (stay), 0 (the next page in the list) or the key
//    of the page to show; after the move, Next goes off and Finish on when the page shown is the
//    last of the list, and Back goes on;
//  - Back: the same with OnWizardBack, 0 meaning the previous page; after the move, Back and
//    Finish go off when the page shown is the first of the list, and Next goes on;
//  - Finish: the shown page's OnKillActive, then OnWizardFinish of every created page in list
//    order; the first refusal keeps the wizard open;
//  - Cancel (also Escape and the window's close button): OnQueryCancel of every created page in
//    list order; the first refusal keeps the wizard open.
// A page that refuses leaves the wizard exactly as it was: the same page shown, the same pages
// created, the same buttons enabled. Moving to a page asks the shown page's OnKillActive before the
// target page is created, so a refusal never creates the target.
//
// When a run ends (Finish or Cancel) and when the wizard is destroyed, every created page whose
// OnKillActive agrees runs OnDestroyPage and loses its controls; a page that refuses keeps them
// until the page object itself is destroyed.

#include <QDialog>
#include <QList>
#include <QSize>
#include <QString>
#include <QWidget>

#include "wendle/export.h"

class QLabel;
class QPushButton;
class QVBoxLayout;

namespace Wendle {

class CNewWizDialog;

class WENDLE_API CNewWizPage : public QWidget {
  Q_OBJECT

 public:
  explicit CNewWizPage(const QString& title = QString());
  ~CNewWizPage() override;
  CNewWizPage(const CNewWizPage&) = delete;
  CNewWizPage& operator=(const CNewWizPage&) = delete;

  QString Title() const { return title_; }
  // The bold title shown at the top of the page.
  void SetTitle(const QString& title);

  // The key given to AddPage (0 before).
  int GetResourceID() const { return key_; }
  // The page's controls exist.
  bool IsCreated() const { return created_; }
  // It is the page shown.
  bool IsActive() const { return active_; }
  // The wizard that created the page; nullptr before its first showing.
  CNewWizDialog* GetWizard() const { return wizard_; }
  // The area below the title where the page puts its controls; nullptr while not created.
  QWidget* Body() const { return body_; }

  // The operations a page overrides; the defaults do nothing and agree.
  // Not called by the frame.
  virtual void OnCancel();
  // Once, right after the page's controls area was made; false stops showing it (the area is
  // taken down again, and the next attempt to show the page creates it anew).
  virtual bool OnCreatePage();
  // Before a created page's controls are destroyed.
  virtual void OnDestroyPage();
  // Before the page is hidden, before Finish and before its controls are destroyed; false keeps
  // the page shown and stops the step.
  virtual bool OnKillActive();
  // Each time the page becomes the page shown.
  virtual void OnSetActive();
  // On Cancel, for every created page; false keeps the wizard open.
  virtual bool OnQueryCancel();
  // Back pressed on this page: -1 stay, 0 the previous page, any other value the page with that key.
  virtual int OnWizardBack();
  // Next pressed on this page: -1 stay, 0 the next page, any other value the page with that key.
  virtual int OnWizardNext();
  // On Finish, for every created page; false keeps the wizard open.
  virtual bool OnWizardFinish();

 private:
  friend class CNewWizDialog;
  void BuildWindow(CNewWizDialog* wizard, QWidget* area);
  void DestroyWindow();
  void Detach();

  QString title_;
  int key_ = 0;
  bool created_ = false;
  bool active_ = false;
  CNewWizDialog* wizard_ = nullptr;  // set when created
  CNewWizDialog* listedIn_ = nullptr;  // the wizard whose list holds the page
  QLabel* titleLabel_ = nullptr;
  QWidget* body_ = nullptr;
};

class WENDLE_API CNewWizDialog : public QDialog {
  Q_OBJECT

 public:
  // Command identifiers of the buttons; kFinishId is also the dialog's result after Finish.
  static constexpr int kBackId = 12323;
  static constexpr int kNextId = 12324;
  static constexpr int kFinishId = 12325;

  explicit CNewWizDialog(QWidget* parent = nullptr);
  ~CNewWizDialog() override;

  // Appends a page with its key (a key of 0 or -1 cannot be jumped to). The wizard does not own
  // the page. Refuses a null page and a page that is already in a list.
  bool AddPage(CNewWizPage* page, int key);

  void SetTitle(const QString& title);
  void SetFinishText(const QString& text);
  void SetButtonTexts(const QString& back, const QString& next, const QString& finish, const QString& cancel);
  // The smallest size of the area the pages are shown in.
  void SetPageAreaSize(const QSize& size);

  // For pages: enable or disable one button.
  void EnableBack(bool enable);
  void EnableNext(bool enable);
  void EnableFinish(bool enable);

  int GetPageCount() const { return static_cast<int>(pages_.size()); }
  // Position of the page shown, or -1.
  int GetActiveIndex() const;
  // Position of `page` in the list, or -1.
  int GetPageIndex(const CNewWizPage* page) const;
  // The page at `index`, or nullptr.
  CNewWizPage* GetPage(int index) const;
  // Shows the page at `index` (or `page`); false when it is not in the list or a page refused.
  // The buttons are left as they are.
  bool SetActivePage(int index);
  bool SetActivePage(CNewWizPage* page);
  // Shows the first page with `key`; false when there is none or a page refused.
  bool SetActivePageByResource(int key);

  // The buttons by command identifier (kBackId, kNextId, kFinishId), or QDialog::Rejected for
  // Cancel; nullptr for any other value.
  QPushButton* Button(int id) const;

  // What the buttons run.
  void OnWizardBack();
  void OnWizardNext();
  void OnWizardFinish();
  // Cancel, Escape and the close button.
  void reject() override;
  void done(int result) override;
  void setVisible(bool visible) override;

 private:
  friend class CNewWizPage;
  void InitWizard();
  bool ActivatePage(CNewWizPage* page);
  CNewWizPage* ShownPage() const;
  int IndexOfKey(int key) const;
  void DestroyPages();
  void ForgetPage(CNewWizPage* page);
  void UpdateDefaultButton();

  QList<CNewWizPage*> pages_;
  QWidget* pageArea_;
  QVBoxLayout* pageLayout_;
  QPushButton* back_;
  QPushButton* next_;
  QPushButton* finish_;
  QPushButton* cancel_;
};

}  // namespace Wendle
