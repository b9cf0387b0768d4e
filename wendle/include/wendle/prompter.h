#pragma once

// Everything a dialog asks of the user outside its own window: message boxes and the folder
// browser. Dialogs take a Prompter from their caller, so a program shows real boxes (QtPrompter)
// and a test answers them from a script without a modal window.

#include <QString>

#include "wendle/export.h"

class QWidget;

namespace Wendle {

enum class MessageIcon { Information, Warning, Critical };

class WENDLE_API Prompter {
 public:
  virtual ~Prompter();
  // A message with an OK button.
  virtual void Message(QWidget* parent, MessageIcon icon, const QString& caption, const QString& text) = 0;
  // A Yes/No question; true for Yes.
  virtual bool Question(QWidget* parent, const QString& caption, const QString& text) = 0;
  // Lets the user choose a folder, the browser opening in `start`; empty when the user cancels.
  virtual QString PickFolder(QWidget* parent, const QString& caption, const QString& start) = 0;
};

// QMessageBox and QFileDialog.
class WENDLE_API QtPrompter : public Prompter {
 public:
  void Message(QWidget* parent, MessageIcon icon, const QString& caption, const QString& text) override;
  bool Question(QWidget* parent, const QString& caption, const QString& text) override;
  QString PickFolder(QWidget* parent, const QString& caption, const QString& start) override;
};

// The folder a browser for `text` should open in: the folder itself when it exists, else its
// nearest existing parent, else `fallback` when that exists, else the home folder.
WENDLE_API QString StartFolderFor(const QString& text, const QString& fallback = QString());

}  // namespace Wendle
