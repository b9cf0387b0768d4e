#include "wendle/folder_edit.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

#include "wendle/prompter.h"

namespace Wendle {

QString CleanFolder(const QString& text) {
  if (text.trimmed().isEmpty()) return QString();
  return QDir::cleanPath(QFileInfo(text).absoluteFilePath());
}

CFolderEdit::CFolderEdit(Prompter& prompter, const QString& caption, QWidget* parent)
    : QWidget(parent), prompter_(prompter), caption_(caption) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  edit_ = new QLineEdit(this);
  edit_->setMinimumWidth(260);
  browse_ = new QPushButton(QStringLiteral("浏览..."), this);
  browse_->setAutoDefault(false);
  layout->addWidget(edit_, 1);
  layout->addWidget(browse_);
  setFocusProxy(edit_);
  connect(edit_, &QLineEdit::textChanged, this, &CFolderEdit::textChanged);
  connect(browse_, &QPushButton::clicked, this, [this] { Browse(); });
}

QString CFolderEdit::Text() const { return edit_->text(); }

void CFolderEdit::SetText(const QString& text) {
  edit_->setText(text);
  edit_->setCursorPosition(0);
}

QString CFolderEdit::Folder() const { return CleanFolder(edit_->text()); }

void CFolderEdit::Browse() {
  const QString chosen = prompter_.PickFolder(this, caption_, StartFolderFor(edit_->text(), fallback_));
  if (!chosen.isEmpty()) SetText(QDir::toNativeSeparators(CleanFolder(chosen)));
}

}  // namespace Wendle
