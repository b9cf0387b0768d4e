// The settings dialog "高级设置": what its controls show, OK storing every control, Cancel storing
// nothing, the theme callback, the refused marks, and ThemeStyle in the settings file.

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "settings/settings.h"
#include "shell/settings_dlg.h"
#include "shell/theme_style.h"
#include "support/recording_prompter.h"
#include "wendle/folder_edit.h"

using KvxTest::RecordingPrompter;

namespace {

void WhenDialogOpens(std::function<void(Kvx::CSettingsDlg&)> body) {
  QTimer::singleShot(0, [body] {
    auto* dialog = qobject_cast<Kvx::CSettingsDlg*>(QApplication::activeModalWidget());
    if (dialog == nullptr) {
      QApplication::activeModalWidget()->close();
      QFAIL("no settings dialog opened");
    }
    body(*dialog);
  });
}

// Settings unlike the defaults in every value the dialog shows.
Kvx::Settings Sample(const QString& work) {
  Kvx::Settings s;
  s.ExportEmptyFile = 1;
  s.WorkPath = work.toStdString();
  s.ThemeStyle = 3;
  s.AutoUpdate = 0;
  s.AffixType = 2;
  s.Pntfix = "pt";
  s.Annofix = "an";
  s.Linfix = "ln";
  s.Wbfix = "tb";
  s.Regfix = "rg";
  s.Arcfix = "ac";
  s.Netfix = "nw";
  s.Nodefix = "nd";
  s.Mpjfix = "工程";
  return s;
}

std::string ReadAll(const QString& file) {
  std::ifstream in(file.toStdString(), std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

class SettingsDialogTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void init();
  void controlsShowTheSettings();
  void emptyFileBoxShowsTheInverse_data();
  void emptyFileBoxShowsTheInverse();
  void okStoresEveryControl();
  void cancelStoresNothing();
  void themeOutOfRangeShowsTheFirst();
  void themeCallback_data();
  void themeCallback();
  void marksThatCannotStandInFileNamesAreRefused_data();
  void marksThatCannotStandInFileNamesAreRefused();
  void themeStyleInTheSettingsFile();

 private:
  QString Dir(const QString& name) const { return tmp_->filePath(name); }
  std::unique_ptr<QTemporaryDir> tmp_;
  RecordingPrompter prompter_;
};

void SettingsDialogTest::init() {
  tmp_ = std::make_unique<QTemporaryDir>();
  QVERIFY(tmp_->isValid());
  QVERIFY(QDir().mkpath(Dir("工作 目录")));
  QVERIFY(QDir().mkpath(Dir("另一个 目录")));
  prompter_ = RecordingPrompter{};
}

void SettingsDialogTest::controlsShowTheSettings() {
  Kvx::Settings s = Sample(Dir("工作 目录"));
  Kvx::CSettingsDlg dialog(s, prompter_);
  QCOMPARE(dialog.windowTitle(), QStringLiteral("高级设置"));
  QCOMPARE(dialog.PageCount(), 2);
  QCOMPARE(dialog.PageName(0), QStringLiteral("常规设置"));
  QCOMPARE(dialog.PageName(1), QStringLiteral("类型标识"));

  const Kvx::CSheetGeneral& general = *dialog.General();
  QCOMPARE(general.DeleteEmptyBox()->text(), QStringLiteral("转换完成后自动删除结果中的空文件"));
  QVERIFY(!general.DeleteEmptyBox()->isChecked());
  QCOMPARE(general.WorkFolderBox()->Text(), Dir("工作 目录"));
  QStringList themes;
  for (int i = 0; i < general.ThemeBox()->count(); ++i) themes.append(general.ThemeBox()->itemText(i));
  QCOMPARE(themes, (QStringList{"蓝色主题", "黑色主题", "灰色主题", "银色主题"}));
  QCOMPARE(general.ThemeBox()->currentIndex(), 3);
  QCOMPARE(general.AutoUpdateBox()->text(), QStringLiteral("自动检查更新"));
  QVERIFY(!general.AutoUpdateBox()->isChecked());

  const Kvx::CSheetAffix& affix = *dialog.Affix();
  QStringList placements;
  for (int i = 0; i < 3; ++i) placements.append(affix.Placement(i)->text());
  QCOMPARE(placements, (QStringList{"无", "前缀", "后缀"}));
  QVERIFY(affix.Placement(2)->isChecked());
  QStringList labels, marks;
  for (int i = 0; i < int(Kvx::CSheetAffix::kMarks.size()); ++i) {
    labels.append(QString::fromUtf8(Kvx::CSheetAffix::kMarks[i].label));
    marks.append(affix.MarkBox(i)->text());
  }
  QCOMPARE(labels, (QStringList{"点标识", "注释标识", "线标识", "表格标识", "面标识", "弧段标识", "网络标识", "结点标识", "工程标识"}));
  QCOMPARE(marks, (QStringList{"pt", "an", "ln", "tb", "rg", "ac", "nw", "nd", "工程"}));
}

void SettingsDialogTest::emptyFileBoxShowsTheInverse_data() {
  QTest::addColumn<int>("stored");
  QTest::addColumn<bool>("ticked");
  QTest::addColumn<bool>("tick");
  QTest::addColumn<int>("after");
  QTest::newRow("0 shows ticked; unticking stores 1") << 0 << true << false << 1;
  QTest::newRow("1 shows unticked; ticking stores 0") << 1 << false << true << 0;
  QTest::newRow("0 left ticked stays 0") << 0 << true << true << 0;
  QTest::newRow("another non-zero value left unticked stays") << 5 << false << false << 5;
}

void SettingsDialogTest::emptyFileBoxShowsTheInverse() {
  QFETCH(int, stored);
  QFETCH(bool, ticked);
  QFETCH(bool, tick);
  QFETCH(int, after);
  Kvx::Settings s;
  s.ExportEmptyFile = stored;
  Kvx::CSettingsDlg dialog(s, prompter_);
  QCOMPARE(dialog.General()->DeleteEmptyBox()->isChecked(), ticked);
  dialog.General()->DeleteEmptyBox()->setChecked(tick);
  dialog.OkButton()->click();
  QCOMPARE(s.ExportEmptyFile, after);
}

void SettingsDialogTest::okStoresEveryControl() {
  Kvx::Settings s = Sample(Dir("工作 目录"));
  Kvx::CSettingsDlg dialog(s, prompter_);
  dialog.show();
  dialog.General()->DeleteEmptyBox()->setChecked(true);
  dialog.General()->WorkFolderBox()->SetText(Dir("另一个 目录") + "/");
  dialog.General()->ThemeBox()->setCurrentIndex(1);
  dialog.General()->AutoUpdateBox()->setChecked(true);
  dialog.Affix()->Placement(0)->setChecked(true);
  const QStringList marks = {"P", "N", "X", "W", "R", "Q", "K", "J", "项目"};
  for (int i = 0; i < marks.size(); ++i) dialog.Affix()->MarkBox(i)->setText(marks[i]);

  Kvx::Settings expected = s;
  expected.ExportEmptyFile = 0;
  expected.WorkPath = Dir("另一个 目录").toStdString();
  expected.ThemeStyle = 1;
  expected.AutoUpdate = 1;
  expected.AffixType = 0;
  expected.Pntfix = "P";
  expected.Annofix = "N";
  expected.Linfix = "X";
  expected.Wbfix = "W";
  expected.Regfix = "R";
  expected.Arcfix = "Q";
  expected.Netfix = "K";
  expected.Nodefix = "J";
  expected.Mpjfix = "项目";

  QVERIFY(s == Sample(Dir("工作 目录")));  // nothing stored before OK
  QTest::keyClick(&dialog, Qt::Key_Return);
  QCOMPARE(dialog.result(), int(QDialog::Accepted));
  QVERIFY(s == expected);
  QVERIFY(prompter_.messages.isEmpty());
}

void SettingsDialogTest::cancelStoresNothing() {
  for (const bool escape : {false, true}) {
    const Kvx::Settings original = Sample(Dir("工作 目录"));
    Kvx::Settings s = original;
    Kvx::CSettingsDlg dialog(s, prompter_);
    dialog.show();
    dialog.General()->DeleteEmptyBox()->setChecked(true);
    dialog.General()->WorkFolderBox()->SetText(Dir("另一个 目录"));
    dialog.General()->ThemeBox()->setCurrentIndex(0);
    dialog.General()->AutoUpdateBox()->setChecked(true);
    dialog.Affix()->Placement(1)->setChecked(true);
    for (int i = 0; i < 9; ++i) dialog.Affix()->MarkBox(i)->setText("Z");
    if (escape) {
      QTest::keyClick(&dialog, Qt::Key_Escape);
    } else {
      dialog.CancelButton()->click();
    }
    QCOMPARE(dialog.result(), int(QDialog::Rejected));
    QVERIFY(s == original);
  }
}

void SettingsDialogTest::themeOutOfRangeShowsTheFirst() {
  for (const int stored : {-1, 4, 99}) {
    Kvx::Settings s;
    s.ThemeStyle = stored;
    Kvx::CSettingsDlg dialog(s, prompter_);
    QCOMPARE(dialog.General()->ThemeBox()->currentIndex(), 0);
    dialog.OkButton()->click();
    QCOMPARE(s.ThemeStyle, 0);
  }
  QCOMPARE(Kvx::ValidThemeStyle(3), 3);
  QCOMPARE(Kvx::ValidThemeStyle(0), 0);
  QCOMPARE(Kvx::ValidThemeStyle(4), 0);
  QCOMPARE(Kvx::ValidThemeStyle(-2), 0);
}

// The theme in use, the theme chosen, OK or Cancel, and what the callback is asked to apply.
void SettingsDialogTest::themeCallback_data() {
  QTest::addColumn<int>("inUse");
  QTest::addColumn<int>("chosen");
  QTest::addColumn<bool>("ok");
  QTest::addColumn<QList<int>>("applied");
  QTest::newRow("a new theme is applied after OK") << 0 << 2 << true << QList<int>{2};
  QTest::newRow("the same theme is not applied again") << 2 << 2 << true << QList<int>{};
  QTest::newRow("Cancel applies nothing") << 0 << 2 << false << QList<int>{};
}

void SettingsDialogTest::themeCallback() {
  QFETCH(int, inUse);
  QFETCH(int, chosen);
  QFETCH(bool, ok);
  QFETCH(QList<int>, applied);
  Kvx::Settings s;
  s.ThemeStyle = inUse;
  WhenDialogOpens([&](Kvx::CSettingsDlg& dialog) {
    dialog.General()->ThemeBox()->setCurrentIndex(chosen);
    (ok ? dialog.OkButton() : dialog.CancelButton())->click();
  });
  QList<int> calls;
  QCOMPARE(Kvx::RunSettingsDialog(s, prompter_, inUse, [&](std::int32_t theme) { calls.append(theme); }), ok);
  QCOMPARE(calls, applied);
  QCOMPARE(s.ThemeStyle, ok ? chosen : inUse);
}

void SettingsDialogTest::marksThatCannotStandInFileNamesAreRefused_data() {
  QTest::addColumn<int>("box");
  QTest::addColumn<QString>("mark");
  QTest::addColumn<QString>("message");  // empty: taken
  const QString refused = QStringLiteral("%1不能包含字符 \\ / : * ? \" < > |");
  QTest::newRow("slash") << 0 << "a/b" << refused.arg("点标识");
  QTest::newRow("backslash") << 4 << "a\\b" << refused.arg("面标识");
  QTest::newRow("colon") << 8 << "M:" << refused.arg("工程标识");
  QTest::newRow("question mark") << 7 << "?" << refused.arg("结点标识");
  QTest::newRow("Chinese and spaces are fine") << 1 << "注 释" << "";
  QTest::newRow("empty is fine") << 2 << "" << "";
}

void SettingsDialogTest::marksThatCannotStandInFileNamesAreRefused() {
  QFETCH(int, box);
  QFETCH(QString, mark);
  QFETCH(QString, message);
  const Kvx::Settings original = Sample(Dir("工作 目录"));
  Kvx::Settings s = original;
  Kvx::CSettingsDlg dialog(s, prompter_);
  dialog.show();
  dialog.General()->ThemeBox()->setCurrentIndex(0);
  dialog.Affix()->MarkBox(box)->setText(mark);
  dialog.OkButton()->click();
  if (message.isEmpty()) {
    QVERIFY(prompter_.messages.isEmpty());
    QCOMPARE(dialog.result(), int(QDialog::Accepted));
    QCOMPARE(QString::fromStdString(s.*Kvx::CSheetAffix::kMarks[box].member), mark);
  } else {
    QCOMPARE(prompter_.Texts(), QStringList{message});
    QCOMPARE(prompter_.messages.front().caption, QStringLiteral("注意"));
    QVERIFY(dialog.isVisible());
    QCOMPARE(dialog.CurrentPage(), 1);
    QVERIFY(s == original);  // not even the first page's values
  }
}

void SettingsDialogTest::themeStyleInTheSettingsFile() {
  const QString file = Dir("KorvexPro.ini");
  {
    std::ofstream out(file.toStdString(), std::ios::binary);
    out << "; kept\n[General]\nMaxFiles=12\n[Workspace]\nThemeStyle=1\n";
  }
  Kvx::Settings s;
  QVERIFY(Kvx::LoadSettings(s, file.toStdString()).fileRead);
  QCOMPARE(s.ThemeStyle, 1);
  s.ThemeStyle = 2;
  s.MaxFiles = 99;  // not written: only the theme is
  QVERIFY(Kvx::SaveThemeStyle(s, file.toStdString()).ok);
  const std::string text = ReadAll(file);
  QVERIFY2(text.find("; kept") != std::string::npos, text.c_str());
  QVERIFY2(text.find("MaxFiles=12") != std::string::npos, text.c_str());

  Kvx::Settings back;
  Kvx::LoadSettings(back, file.toStdString());
  QCOMPARE(back.ThemeStyle, 2);
  QCOMPARE(back.MaxFiles, 12);

  // An invalid theme is written as the first theme.
  s.ThemeStyle = 7;
  QVERIFY(Kvx::SaveThemeStyle(s, file.toStdString()).ok);
  Kvx::LoadSettings(back, file.toStdString());
  QCOMPARE(back.ThemeStyle, 0);
}

QTEST_MAIN(SettingsDialogTest)
#include "settings_dlg_qtest.moc"
