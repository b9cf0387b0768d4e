#pragma once

// The frame of a settings dialog: named pages (tabs) above OK and Cancel. OK asks every page in
// order whether its values may be taken (the first refusal shows that page and keeps the dialog
// open) and then lets every page copy its values back; Cancel, Escape and the close button drop
// them, so nothing a page edits changes.

#include <QDialog>
#include <QString>
#include <QWidget>

#include "wendle/export.h"

class QPushButton;
class QTabWidget;

namespace Wendle {

class WENDLE_API CSettingsPage : public QWidget {
  Q_OBJECT

 public:
  explicit CSettingsPage(QWidget* parent = nullptr);

  // OK was pressed: false refuses (the page tells the user why) and keeps the dialog open.
  virtual bool OnValidate();
  // OK was accepted by every page: copy the controls back into what the page edits.
  virtual void OnApply();
};

class WENDLE_API CSettingsDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CSettingsDialog(QWidget* parent = nullptr);

  // Appends a page under `name`; the dialog owns it. Returns its position.
  int AddPage(CSettingsPage* page, const QString& name);
  int PageCount() const;
  CSettingsPage* Page(int index) const;
  QString PageName(int index) const;
  int CurrentPage() const;
  void SetCurrentPage(int index);

  QPushButton* OkButton() const { return ok_; }
  QPushButton* CancelButton() const { return cancel_; }

  // OK.
  void accept() override;

 private:
  QTabWidget* tabs_;
  QPushButton* ok_;
  QPushButton* cancel_;
};

}  // namespace Wendle
