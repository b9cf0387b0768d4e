#pragma once

// The multi-folder chooser: the user builds an ordered list of folders (add through the folder
// browser, remove, move up and down) and confirms it with OK.

#include <QDialog>
#include <QString>
#include <QStringList>

#include "wendle/export.h"

class QListWidget;
class QPushButton;

namespace Wendle {

class Prompter;

class WENDLE_API CFolderListDialog : public QDialog {
  Q_OBJECT

 public:
  explicit CFolderListDialog(Prompter& prompter, QWidget* parent = nullptr);

  // Where the browser opens while no folder of the list is selected.
  void SetStartFolder(const QString& folder) { start_ = folder; }

  // Appends a folder (made absolute, "." and ".." resolved). Refused with a message when it is
  // not an existing folder or already in the list.
  bool AddFolder(const QString& folder);
  // Opens the browser (in the selected folder, else in the start folder) and adds its choice.
  void BrowseAndAdd();
  // Removes the selected folder / moves it one place up or down.
  void RemoveSelected();
  void MoveSelected(int step);

  QStringList Folders() const;
  QListWidget* List() const { return list_; }

  // OK: refused with a message while the list is empty.
  void accept() override;

 private:
  void UpdateButtons();

  Prompter& prompter_;
  QString start_;
  QListWidget* list_;
  QPushButton* add_;
  QPushButton* remove_;
  QPushButton* up_;
  QPushButton* down_;
};

// Runs the chooser with `initial` listed; the folders in the user's order, or an empty list when
// the user cancels.
WENDLE_API QStringList ChooseFolders(QWidget* parent, Prompter& prompter, const QString& title,
                                     const QString& startFolder, const QStringList& initial = {});

}  // namespace Wendle
