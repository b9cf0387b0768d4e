#include "wendle/folder_list_dialog.h"

#include <algorithm>

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>

#include "wendle/folder_edit.h"
#include "wendle/prompter.h"

namespace Wendle {

namespace {
const QString kCaption = QStringLiteral("注意");
}

CFolderListDialog::CFolderListDialog(Prompter& prompter, QWidget* parent) : QDialog(parent), prompter_(prompter) {
  setWindowTitle(QStringLiteral("选择目录"));
  auto* layout = new QGridLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("按列表顺序搜索以下目录："), this), 0, 0, 1, 2);
  list_ = new QListWidget(this);
  list_->setSelectionMode(QAbstractItemView::SingleSelection);
  list_->setMinimumSize(420, 220);
  layout->addWidget(list_, 1, 0);

  auto* side = new QVBoxLayout;
  add_ = new QPushButton(QStringLiteral("添加目录..."), this);
  remove_ = new QPushButton(QStringLiteral("移除"), this);
  up_ = new QPushButton(QStringLiteral("上移"), this);
  down_ = new QPushButton(QStringLiteral("下移"), this);
  for (QPushButton* b : {add_, remove_, up_, down_}) {
    b->setAutoDefault(false);
    side->addWidget(b);
  }
  side->addStretch(1);
  layout->addLayout(side, 1, 1);

  auto* box = new QDialogButtonBox(this);
  QPushButton* ok = box->addButton(QStringLiteral("确定"), QDialogButtonBox::AcceptRole);
  box->addButton(QStringLiteral("取消"), QDialogButtonBox::RejectRole);
  ok->setDefault(true);
  layout->addWidget(box, 2, 0, 1, 2);

  connect(add_, &QPushButton::clicked, this, [this] { BrowseAndAdd(); });
  connect(remove_, &QPushButton::clicked, this, [this] { RemoveSelected(); });
  connect(up_, &QPushButton::clicked, this, [this] { MoveSelected(-1); });
  connect(down_, &QPushButton::clicked, this, [this] { MoveSelected(1); });
  connect(list_, &QListWidget::currentRowChanged, this, [this] { UpdateButtons(); });
  connect(box, &QDialogButtonBox::accepted, this, &CFolderListDialog::accept);
  connect(box, &QDialogButtonBox::rejected, this, &CFolderListDialog::reject);
  UpdateButtons();
}

bool CFolderListDialog::AddFolder(const QString& folder) {
  const QString clean = CleanFolder(folder);
  if (clean.isEmpty() || !QFileInfo(clean).isDir()) {
    prompter_.Message(this, MessageIcon::Warning, kCaption, QStringLiteral("目录不存在：%1").arg(folder));
    return false;
  }
  const QString shown = QDir::toNativeSeparators(clean);
  if (Folders().contains(shown)) {
    prompter_.Message(this, MessageIcon::Warning, kCaption, QStringLiteral("目录已在列表中：%1").arg(shown));
    return false;
  }
  list_->addItem(shown);
  list_->setCurrentRow(list_->count() - 1);
  UpdateButtons();
  return true;
}

void CFolderListDialog::BrowseAndAdd() {
  const QListWidgetItem* selected = list_->currentItem();
  const QString start = StartFolderFor(selected != nullptr ? selected->text() : start_, start_);
  const QString chosen = prompter_.PickFolder(this, QStringLiteral("添加目录"), start);
  if (!chosen.isEmpty()) AddFolder(chosen);
}

void CFolderListDialog::RemoveSelected() {
  const int row = list_->currentRow();
  if (row < 0) return;
  delete list_->takeItem(row);
  if (list_->count() > 0) list_->setCurrentRow(std::min(row, list_->count() - 1));
  UpdateButtons();
}

void CFolderListDialog::MoveSelected(int step) {
  const int row = list_->currentRow();
  const int to = row + step;
  if (row < 0 || to < 0 || to >= list_->count()) return;
  QListWidgetItem* item = list_->takeItem(row);
  list_->insertItem(to, item);
  list_->setCurrentRow(to);
  UpdateButtons();
}

QStringList CFolderListDialog::Folders() const {
  QStringList folders;
  for (int i = 0; i < list_->count(); ++i) folders.append(list_->item(i)->text());
  return folders;
}

void CFolderListDialog::accept() {
  if (list_->count() == 0) {
    prompter_.Message(this, MessageIcon::Warning, kCaption, QStringLiteral("请至少添加一个目录"));
    return;
  }
  QDialog::accept();
}

void CFolderListDialog::UpdateButtons() {
  const int row = list_->currentRow();
  remove_->setEnabled(row >= 0);
  up_->setEnabled(row > 0);
  down_->setEnabled(row >= 0 && row + 1 < list_->count());
}

QStringList ChooseFolders(QWidget* parent, Prompter& prompter, const QString& title, const QString& startFolder,
                          const QStringList& initial) {
  CFolderListDialog dialog(prompter, parent);
  if (!title.isEmpty()) dialog.setWindowTitle(title);
  dialog.SetStartFolder(startFolder);
  for (const QString& folder : initial) {
    // Folders that went away since, and repeats, are left out without a message.
    const QString clean = CleanFolder(folder);
    if (!clean.isEmpty() && QFileInfo(clean).isDir() && !dialog.Folders().contains(QDir::toNativeSeparators(clean)))
      dialog.AddFolder(clean);
  }
  if (dialog.exec() != QDialog::Accepted) return {};
  return dialog.Folders();
}

}  // namespace Wendle
