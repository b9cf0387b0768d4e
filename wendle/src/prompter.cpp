#include "wendle/prompter.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace Wendle {

Prompter::~Prompter() = default;

void QtPrompter::Message(QWidget* parent, MessageIcon icon, const QString& caption, const QString& text) {
  switch (icon) {
    case MessageIcon::Information: QMessageBox::information(parent, caption, text); break;
    case MessageIcon::Warning: QMessageBox::warning(parent, caption, text); break;
    case MessageIcon::Critical: QMessageBox::critical(parent, caption, text); break;
  }
}

bool QtPrompter::Question(QWidget* parent, const QString& caption, const QString& text) {
  return QMessageBox::question(parent, caption, text, QMessageBox::Yes | QMessageBox::No, QMessageBox::No) ==
         QMessageBox::Yes;
}

QString QtPrompter::PickFolder(QWidget* parent, const QString& caption, const QString& start) {
  return QFileDialog::getExistingDirectory(parent, caption, start, QFileDialog::ShowDirsOnly);
}

QString StartFolderFor(const QString& text, const QString& fallback) {
  if (!text.trimmed().isEmpty()) {
    QFileInfo info(QDir::cleanPath(QFileInfo(text).absoluteFilePath()));
    // Walk up to the nearest folder that exists.
    for (int guard = 0; guard < 4096; ++guard) {
      if (info.isDir()) return info.absoluteFilePath();
      const QString parent = info.absolutePath();
      if (parent == info.absoluteFilePath()) break;
      info = QFileInfo(parent);
    }
  }
  if (!fallback.isEmpty() && QFileInfo(fallback).isDir()) return QFileInfo(fallback).absoluteFilePath();
  return QDir::homePath();
}

}  // namespace Wendle
