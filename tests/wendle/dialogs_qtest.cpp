// The settings-dialog frame, the multi-folder chooser and the folder box.

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "support/recording_prompter.h"
#include "wendle/folder_edit.h"
#include "wendle/folder_list_dialog.h"
#include "wendle/settings_dialog.h"

using KvxTest::RecordingPrompter;

namespace {

// A page editing one int; refuses OK while its value is negative.
class IntPage : public Wendle::CSettingsPage {
 public:
  IntPage(int& target, QStringList& log, QString name) : target_(target), log_(log), name_(std::move(name)), value(target) {}
  bool OnValidate() override {
    log_.append(name_ + ".validate");
    return value >= 0;
  }
  void OnApply() override {
    log_.append(name_ + ".apply");
    target_ = value;
  }

 private:
  int& target_;
  QStringList& log_;
  QString name_;

 public:
  int value;
};

// Runs `body` once the next modal dialog is open.
void WhenModal(std::function<void(QWidget*)> body) {
  QTimer::singleShot(0, [body] {
    QWidget* modal = QApplication::activeModalWidget();
    QVERIFY(modal != nullptr);
    body(modal);
  });
}

}  // namespace

class DialogsTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init();
  void settingsFrameOkValidatesThenApplies();
  void settingsFrameCancelAppliesNothing();
  void startFolderFor_data();
  void startFolderFor();
  void folderEditBrowsesWhereTheBoxPoints();
  void folderListKeepsTheUsersOrder();
  void folderListRefusals();
  void chooseFoldersReturnsTheListOrNothing();

 private:
  std::unique_ptr<QTemporaryDir> tmp_;
  QString Dir(const QString& name) const { return tmp_->filePath(name); }
};

void DialogsTest::init() {
  tmp_ = std::make_unique<QTemporaryDir>();
  QVERIFY(tmp_->isValid());
  for (const char* name : {"a", "b", "地质 数据", "地质 数据/子目录"}) QVERIFY(QDir().mkpath(Dir(QString::fromUtf8(name))));
}

void DialogsTest::settingsFrameOkValidatesThenApplies() {
  int first = 1;
  int second = 2;
  QStringList log;
  Wendle::CSettingsDialog dialog;
  auto* p1 = new IntPage(first, log, "p1");
  auto* p2 = new IntPage(second, log, "p2");
  QCOMPARE(dialog.AddPage(p1, QStringLiteral("常规设置")), 0);
  QCOMPARE(dialog.AddPage(p2, QStringLiteral("类型标识")), 1);
  QCOMPARE(dialog.PageCount(), 2);
  QCOMPARE(dialog.PageName(1), QStringLiteral("类型标识"));
  QCOMPARE(dialog.Page(0), p1);
  dialog.show();

  // A refusal on the second page: nothing applied, that page shown, the dialog open.
  p1->value = 10;
  p2->value = -1;
  dialog.OkButton()->click();
  QCOMPARE(log, (QStringList{"p1.validate", "p2.validate"}));
  QCOMPARE(first, 1);
  QCOMPARE(second, 2);
  QCOMPARE(dialog.CurrentPage(), 1);
  QVERIFY(dialog.isVisible());

  log.clear();
  p2->value = 20;
  dialog.OkButton()->click();
  QCOMPARE(log, (QStringList{"p1.validate", "p2.validate", "p1.apply", "p2.apply"}));
  QCOMPARE(first, 10);
  QCOMPARE(second, 20);
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  QVERIFY(!dialog.isVisible());
}

void DialogsTest::settingsFrameCancelAppliesNothing() {
  for (const bool escape : {false, true}) {
    int value = 5;
    QStringList log;
    Wendle::CSettingsDialog dialog;
    auto* page = new IntPage(value, log, "p");
    dialog.AddPage(page, QStringLiteral("常规设置"));
    dialog.show();
    page->value = 99;
    if (escape) {
      QTest::keyClick(&dialog, Qt::Key_Escape);
    } else {
      dialog.CancelButton()->click();
    }
    QCOMPARE(value, 5);
    QVERIFY(log.isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
  }
}

void DialogsTest::startFolderFor_data() {
  QTest::addColumn<QString>("text");  // "@" stands for the temporary folder
  QTest::addColumn<QString>("fallback");
  QTest::addColumn<QString>("expected");  // "~" the home folder

  QTest::newRow("an existing folder") << "@/地质 数据" << "" << "@/地质 数据";
  QTest::newRow("a folder not made yet opens its nearest parent") << "@/地质 数据/新建/更深" << "" << "@/地质 数据";
  QTest::newRow("a file opens its folder") << "@/地质 数据/子目录/../a.txt" << "" << "@/地质 数据";
  QTest::newRow("an empty box opens the fallback") << "" << "@/b" << "@/b";
  QTest::newRow("a blank box opens the fallback") << "   " << "@/b" << "@/b";
  QTest::newRow("no box and no fallback: home") << "" << "@/missing" << "~";
}

void DialogsTest::startFolderFor() {
  QFETCH(QString, text);
  QFETCH(QString, fallback);
  QFETCH(QString, expected);
  const auto fill = [this](QString s) {
    s.replace(QLatin1Char('@'), tmp_->path());
    return s == QStringLiteral("~") ? QDir::homePath() : s;
  };
  QCOMPARE(Wendle::StartFolderFor(fill(text), fill(fallback)), fill(expected));
}

void DialogsTest::folderEditBrowsesWhereTheBoxPoints() {
  RecordingPrompter prompter;
  Wendle::CFolderEdit edit(prompter, QStringLiteral("选择目录"));
  edit.SetFallbackFolder(Dir("b"));
  edit.SetText(Dir("地质 数据/不存在"));
  prompter.pickedFolders = {Dir("地质 数据/子目录")};
  edit.BrowseButton()->click();
  QCOMPARE(prompter.browserStarts, QStringList{Dir("地质 数据")});
  QCOMPARE(edit.Text(), Dir("地质 数据/子目录"));
  QCOMPARE(edit.Folder(), Dir("地质 数据/子目录"));

  // Cancelling the browser keeps the text; an empty box opens the fallback.
  edit.SetText(QString());
  edit.Browse();
  QCOMPARE(prompter.browserStarts.last(), Dir("b"));
  QCOMPARE(edit.Text(), QString());
  QCOMPARE(edit.Folder(), QString());

  // Folder() resolves "." and ".." and drops a trailing separator; spaces stay.
  edit.SetText(Dir("地质 数据/./子目录/../") + "/");
  QCOMPARE(edit.Folder(), Dir("地质 数据"));
}

void DialogsTest::folderListKeepsTheUsersOrder() {
  RecordingPrompter prompter;
  Wendle::CFolderListDialog dialog(prompter);
  dialog.SetStartFolder(Dir("b"));
  QVERIFY(dialog.AddFolder(Dir("b")));
  QVERIFY(dialog.AddFolder(Dir("a") + "/"));
  prompter.pickedFolders = {Dir("地质 数据")};
  dialog.List()->setCurrentRow(-1);
  dialog.BrowseAndAdd();  // nothing selected: opens in the start folder
  QCOMPARE(prompter.browserStarts, QStringList{Dir("b")});
  QCOMPARE(dialog.Folders(), (QStringList{Dir("b"), Dir("a"), Dir("地质 数据")}));

  // The browser opens in the selected folder.
  dialog.List()->setCurrentRow(1);
  dialog.BrowseAndAdd();
  QCOMPARE(prompter.browserStarts.last(), Dir("a"));
  QCOMPARE(dialog.Folders().size(), 3);  // cancelled: nothing added

  dialog.List()->setCurrentRow(2);
  dialog.MoveSelected(-1);
  dialog.MoveSelected(-1);
  dialog.MoveSelected(-1);  // already first
  QCOMPARE(dialog.Folders(), (QStringList{Dir("地质 数据"), Dir("b"), Dir("a")}));
  dialog.MoveSelected(1);
  QCOMPARE(dialog.Folders(), (QStringList{Dir("b"), Dir("地质 数据"), Dir("a")}));
  dialog.RemoveSelected();
  QCOMPARE(dialog.Folders(), (QStringList{Dir("b"), Dir("a")}));
  QCOMPARE(dialog.List()->currentRow(), 1);
  QVERIFY(prompter.messages.isEmpty());
}

void DialogsTest::folderListRefusals() {
  RecordingPrompter prompter;
  Wendle::CFolderListDialog dialog(prompter);
  dialog.show();
  dialog.accept();  // an empty list is not an answer
  QVERIFY(dialog.isVisible());
  QVERIFY(!dialog.AddFolder(Dir("missing")));
  QVERIFY(dialog.AddFolder(Dir("a")));
  QVERIFY(!dialog.AddFolder(Dir("b/../a")));
  QCOMPARE(prompter.Texts(), (QStringList{QStringLiteral("请至少添加一个目录"), QStringLiteral("目录不存在：%1").arg(Dir("missing")),
                                          QStringLiteral("目录已在列表中：%1").arg(Dir("a"))}));
  for (const auto& m : prompter.messages) QCOMPARE(m.caption, QStringLiteral("注意"));
  QCOMPARE(dialog.Folders(), QStringList{Dir("a")});
  dialog.accept();
  QVERIFY(!dialog.isVisible());
}

void DialogsTest::chooseFoldersReturnsTheListOrNothing() {
  RecordingPrompter prompter;
  // Initial folders: a repeat and a folder that went away are left out silently.
  WhenModal([](QWidget* modal) {
    auto* dialog = qobject_cast<Wendle::CFolderListDialog*>(modal);
    QVERIFY(dialog != nullptr);
    dialog->List()->setCurrentRow(0);
    dialog->MoveSelected(1);
    QTest::keyClick(dialog, Qt::Key_Return);
  });
  const QStringList chosen = Wendle::ChooseFolders(nullptr, prompter, QStringLiteral("搜索目录"), Dir("b"),
                                                   {Dir("a"), Dir("missing"), Dir("地质 数据"), Dir("a")});
  QCOMPARE(chosen, (QStringList{Dir("地质 数据"), Dir("a")}));
  QVERIFY(prompter.messages.isEmpty());

  WhenModal([](QWidget* modal) { QTest::keyClick(modal, Qt::Key_Escape); });
  QVERIFY(Wendle::ChooseFolders(nullptr, prompter, QString(), Dir("b"), {Dir("a")}).isEmpty());
}

QTEST_MAIN(DialogsTest)
#include "dialogs_qtest.moc"
