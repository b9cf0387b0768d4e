#pragma once

// A folder box: a line edit for the path and a browse button that opens the folder browser where
// the box points.

#include <QString>
#include <QWidget>

#include "wendle/export.h"

class QLineEdit;
class QPushButton;

namespace Wendle {

class Prompter;

class WENDLE_API CFolderEdit : public QWidget {
  Q_OBJECT

 public:
  // `caption` titles the folder browser.
  CFolderEdit(Prompter& prompter, const QString& caption, QWidget* parent = nullptr);

  QString Text() const;
  void SetText(const QString& text);
  // Where the browser opens while the box names no existing folder or parent of one.
  void SetFallbackFolder(const QString& folder) { fallback_ = folder; }

  // The box's text as a folder: empty when the box is empty or blank; otherwise the absolute path
  // with "." and ".." resolved and no trailing separator (spaces and other characters kept).
  QString Folder() const;

  // Opens the browser in StartFolderFor(box text); a chosen folder replaces the text.
  void Browse();

  QLineEdit* LineEdit() const { return edit_; }
  QPushButton* BrowseButton() const { return browse_; }

 Q_SIGNALS:
  void textChanged(const QString& text);

 private:
  Prompter& prompter_;
  QString caption_;
  QString fallback_;
  QLineEdit* edit_;
  QPushButton* browse_;
};

// The text of a folder box as a folder (see CFolderEdit::Folder).
WENDLE_API QString CleanFolder(const QString& text);

}  // namespace Wendle
