// The wizard frame: button rules, page creation, the callbacks asked on Next, Back, Finish and
// Cancel, refusals, the destruction rule and the page list operations.

#include <memory>
#include <vector>

#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include "wendle/new_wiz_dialog.h"

using Wendle::CNewWizDialog;
using Wendle::CNewWizPage;

namespace {

constexpr int kKeyBase = 101;  // page i has the key 101 + i

// What a probe page answers.
struct Answers {
  bool create = true;
  bool kill = true;
  bool cancel = true;
  bool finish = true;
  int next = 0;
  int back = 0;
  bool enableFinishOnShow = false;  // calls EnableFinish(true) each time it is shown
};

// A page that logs every callback as "p<i>.<name>" and answers as told.
class ProbePage : public CNewWizPage {
 public:
  ProbePage(int index, QStringList& log) : CNewWizPage(QStringLiteral("页面 %1").arg(index)), index_(index), log_(log) {}

  Answers answers;

  void OnCancel() override { Log("cancelbutton"); }
  bool OnCreatePage() override {
    Log("create");
    return answers.create;
  }
  void OnDestroyPage() override { Log("destroy"); }
  bool OnKillActive() override {
    Log("kill");
    return answers.kill;
  }
  void OnSetActive() override {
    Log("show");
    if (answers.enableFinishOnShow) GetWizard()->EnableFinish(true);
  }
  bool OnQueryCancel() override {
    Log("cancel");
    return answers.cancel;
  }
  int OnWizardBack() override {
    Log("back");
    return answers.back;
  }
  int OnWizardNext() override {
    Log("next");
    return answers.next;
  }
  bool OnWizardFinish() override {
    Log("finish");
    return answers.finish;
  }

 private:
  void Log(const char* what) { log_.append(QStringLiteral("p%1.%2").arg(index_).arg(QLatin1String(what))); }
  int index_;
  QStringList& log_;
};

// Pages first, so they outlive the wizard as their owner's objects do.
struct Wizard {
  explicit Wizard(int pageCount) {
    for (int i = 0; i < pageCount; ++i) pages.push_back(std::make_unique<ProbePage>(i, log));
    dialog = std::make_unique<CNewWizDialog>();
    for (int i = 0; i < pageCount; ++i) dialog->AddPage(pages[i].get(), kKeyBase + i);
    QObject::connect(dialog.get(), &QDialog::finished, [this](int r) { ended = r; });
  }

  // "<active>:<created flags>:<buttons>", buttons as b/n/f, upper case when enabled; "ended" after
  // the dialog closed.
  QString State() const {
    if (ended != kOpen) return QStringLiteral("ended");
    QString created;
    for (const auto& p : pages) created += p->IsCreated() ? QLatin1Char('1') : QLatin1Char('0');
    QString buttons;
    buttons += dialog->Button(CNewWizDialog::kBackId)->isEnabled() ? 'B' : 'b';
    buttons += dialog->Button(CNewWizDialog::kNextId)->isEnabled() ? 'N' : 'n';
    buttons += dialog->Button(CNewWizDialog::kFinishId)->isEnabled() ? 'F' : 'f';
    return QStringLiteral("%1:%2:%3").arg(dialog->GetActiveIndex()).arg(created, buttons);
  }

  // Presses the buttons of `script`: N Next, B Back, F Finish, C Cancel, E the Escape key.
  void Press(QChar action) {
    switch (action.toLatin1()) {
      case 'N': dialog->Button(CNewWizDialog::kNextId)->click(); break;
      case 'B': dialog->Button(CNewWizDialog::kBackId)->click(); break;
      case 'F': dialog->Button(CNewWizDialog::kFinishId)->click(); break;
      case 'C': dialog->Button(QDialog::Rejected)->click(); break;
      case 'E': QTest::keyClick(dialog.get(), Qt::Key_Escape); break;
      default: QFAIL("unknown action");
    }
  }

  // The log entries that name one of `kinds` (e.g. {"create", "finish"}).
  QStringList Calls(const QStringList& kinds) const {
    QStringList out;
    for (const QString& entry : log) {
      if (kinds.contains(entry.section(QLatin1Char('.'), 1))) out.append(entry);
    }
    return out;
  }

  static constexpr int kOpen = -1000;
  QStringList log;
  std::vector<std::unique_ptr<ProbePage>> pages;
  std::unique_ptr<CNewWizDialog> dialog;
  int ended = kOpen;
};

const QStringList kLifeCalls = {"create", "finish", "cancel", "destroy"};

}  // namespace

class WizardTest : public QObject {
  Q_OBJECT

 private Q_SLOTS:
  void buttonRules_data();
  void buttonRules();
  void refusalsLeaveWizardAsItWas_data();
  void refusalsLeaveWizardAsItWas();
  void destructionRule();
  void pageListOperations();
  void enterPressesNextThenFinish();
  void pageLook();
  void secondRunStartsAtFirstPage();
};

// Each row: the pages, the answers of some pages, the buttons pressed, the state after opening and
// after each press, the end result and the create/finish/cancel/destroy calls of the whole run.
void WizardTest::buttonRules_data() {
  QTest::addColumn<int>("pageCount");
  QTest::addColumn<QList<int>>("nextAnswers");  // OnWizardNext of page i (0 when missing)
  QTest::addColumn<QList<int>>("backAnswers");
  QTest::addColumn<int>("finishEnabler");  // page that enables Finish when shown, or -1
  QTest::addColumn<QString>("script");
  QTest::addColumn<QStringList>("states");
  QTest::addColumn<int>("result");
  QTest::addColumn<QStringList>("calls");

  const int finish = CNewWizDialog::kFinishId;
  const int open = Wizard::kOpen;
  const int rejected = QDialog::Rejected;

  QTest::newRow("one page opens with Finish only and finishes") << 1 << QList<int>{} << QList<int>{} << -1
      << "F" << QStringList{"0:1:bnF", "ended"} << finish
      << QStringList{"p0.create", "p0.finish", "p0.destroy"};
  QTest::newRow("two pages: Next enables Finish, Back to the first disables it") << 2 << QList<int>{}
      << QList<int>{} << -1 << "NB" << QStringList{"0:10:bNf", "1:11:BnF", "0:11:bNf"} << open
      << QStringList{"p0.create", "p1.create"};
  QTest::newRow("three pages through Next, Next, Back, Back") << 3 << QList<int>{} << QList<int>{} << -1
      << "NNBB" << QStringList{"0:100:bNf", "1:110:BNf", "2:111:BnF", "1:111:BNF", "0:111:bNf"} << open
      << QStringList{"p0.create", "p1.create", "p2.create"};
  QTest::newRow("Next jumping to the first page by key follows the Next rule") << 3 << QList<int>{0, kKeyBase}
      << QList<int>{} << -1 << "NN" << QStringList{"0:100:bNf", "1:110:BNf", "0:110:BNf"} << open
      << QStringList{"p0.create", "p1.create"};
  QTest::newRow("Next jumping to the last page by key") << 3 << QList<int>{kKeyBase + 2} << QList<int>{} << -1
      << "NB" << QStringList{"0:100:bNf", "2:101:BnF", "1:111:BNF"} << open
      << QStringList{"p0.create", "p2.create", "p1.create"};
  QTest::newRow("Back jumping to the first page by key follows the Back rule") << 3 << QList<int>{}
      << QList<int>{0, 0, kKeyBase} << -1 << "NNB" << QStringList{"0:100:bNf", "1:110:BNf", "2:111:BnF", "0:111:bNf"}
      << open << QStringList{"p0.create", "p1.create", "p2.create"};
  QTest::newRow("Next naming no page's key changes nothing") << 3 << QList<int>{999} << QList<int>{} << -1
      << "N" << QStringList{"0:100:bNf", "0:100:bNf"} << open << QStringList{"p0.create"};
  QTest::newRow("Finish before the third page was reached asks only two pages") << 3 << QList<int>{}
      << QList<int>{} << 1 << "NF" << QStringList{"0:100:bNf", "1:110:BNF", "ended"} << finish
      << QStringList{"p0.create", "p1.create", "p0.finish", "p1.finish", "p0.destroy", "p1.destroy"};
  QTest::newRow("Finish after Back from the last page asks all three") << 3 << QList<int>{} << QList<int>{} << -1
      << "NNBF" << QStringList{"0:100:bNf", "1:110:BNf", "2:111:BnF", "1:111:BNF", "ended"} << finish
      << QStringList{"p0.create", "p1.create", "p2.create", "p0.finish", "p1.finish", "p2.finish", "p0.destroy",
                     "p1.destroy", "p2.destroy"};
  QTest::newRow("Cancel asks only the pages reached") << 3 << QList<int>{} << QList<int>{} << -1 << "NC"
      << QStringList{"0:100:bNf", "1:110:BNf", "ended"} << rejected
      << QStringList{"p0.create", "p1.create", "p0.cancel", "p1.cancel", "p0.destroy", "p1.destroy"};
  QTest::newRow("Escape cancels like Cancel") << 2 << QList<int>{} << QList<int>{} << -1 << "E"
      << QStringList{"0:10:bNf", "ended"} << rejected << QStringList{"p0.create", "p0.cancel", "p0.destroy"};
}

void WizardTest::buttonRules() {
  QFETCH(int, pageCount);
  QFETCH(QList<int>, nextAnswers);
  QFETCH(QList<int>, backAnswers);
  QFETCH(int, finishEnabler);
  QFETCH(QString, script);
  QFETCH(QStringList, states);
  QFETCH(int, result);
  QFETCH(QStringList, calls);

  Wizard w(pageCount);
  for (int i = 0; i < nextAnswers.size(); ++i) w.pages[i]->answers.next = nextAnswers[i];
  for (int i = 0; i < backAnswers.size(); ++i) w.pages[i]->answers.back = backAnswers[i];
  if (finishEnabler >= 0) w.pages[finishEnabler]->answers.enableFinishOnShow = true;

  w.dialog->show();
  QStringList seen{w.State()};
  for (QChar action : script) {
    w.Press(action);
    seen.append(w.State());
  }
  QCOMPARE(seen, states);
  QCOMPARE(w.ended, result);
  QCOMPARE(w.Calls(kLifeCalls), calls);
}

// Each row: the page that refuses and how, the presses that lead to the start, the press that is
// refused, and the callbacks the refused press asks.
void WizardTest::refusalsLeaveWizardAsItWas_data() {
  QTest::addColumn<int>("refuser");
  QTest::addColumn<QString>("refusal");
  QTest::addColumn<QString>("before");
  QTest::addColumn<QChar>("press");
  QTest::addColumn<QStringList>("asked");

  QTest::newRow("OnKillActive on Next") << 0 << "kill" << "" << QChar('N') << QStringList{"p0.next", "p0.kill"};
  QTest::newRow("OnWizardNext -1") << 0 << "next" << "" << QChar('N') << QStringList{"p0.next"};
  QTest::newRow("OnCreatePage of the next page") << 1 << "create" << "" << QChar('N')
                                                 << QStringList{"p0.next", "p0.kill", "p1.create"};
  QTest::newRow("OnKillActive on Back") << 1 << "kill" << "N" << QChar('B') << QStringList{"p1.back", "p1.kill"};
  QTest::newRow("OnWizardBack -1") << 1 << "back" << "N" << QChar('B') << QStringList{"p1.back"};
  QTest::newRow("OnKillActive on Finish") << 2 << "kill" << "NN" << QChar('F') << QStringList{"p2.kill"};
  QTest::newRow("OnWizardFinish of an earlier page") << 0 << "finish" << "NN" << QChar('F')
                                                     << QStringList{"p2.kill", "p0.finish"};
  QTest::newRow("OnWizardFinish of the shown page") << 2 << "finish" << "NN" << QChar('F')
                                                    << QStringList{"p2.kill", "p0.finish", "p1.finish", "p2.finish"};
  QTest::newRow("OnQueryCancel on Cancel") << 0 << "cancel" << "N" << QChar('C') << QStringList{"p0.cancel"};
  QTest::newRow("OnQueryCancel on Escape") << 1 << "cancel" << "N" << QChar('E')
                                           << QStringList{"p0.cancel", "p1.cancel"};
}

void WizardTest::refusalsLeaveWizardAsItWas() {
  QFETCH(int, refuser);
  QFETCH(QString, refusal);
  QFETCH(QString, before);
  QFETCH(QChar, press);
  QFETCH(QStringList, asked);

  Wizard w(3);
  Answers& a = w.pages[refuser]->answers;
  if (refusal == "kill") a.kill = false;
  if (refusal == "next") a.next = -1;
  if (refusal == "back") a.back = -1;
  if (refusal == "create") a.create = false;
  if (refusal == "finish") a.finish = false;
  if (refusal == "cancel") a.cancel = false;
  // Kill refusals are armed only once the start is reached, so the way there is not blocked.
  if (refusal == "kill") a.kill = true;

  w.dialog->show();
  for (QChar action : before) w.Press(action);
  if (refusal == "kill") a.kill = false;
  const QString state = w.State();
  std::vector<bool> visible;
  for (const auto& p : w.pages) visible.push_back(p->isVisible());
  w.log.clear();

  w.Press(press);
  QCOMPARE(w.State(), state);
  QCOMPARE(w.log, asked);
  for (std::size_t i = 0; i < w.pages.size(); ++i) QCOMPARE(w.pages[i]->isVisible(), visible[i]);
  QVERIFY(w.dialog->isVisible());

  // The same press goes through once the page agrees.
  w.pages[refuser]->answers = Answers{};
  w.Press(press);
  QVERIFY(w.State() != state);
}

void WizardTest::destructionRule() {
  Wizard w(3);
  w.pages[1]->answers.enableFinishOnShow = true;
  w.dialog->show();
  w.Press('N');
  // Page 0 refuses to be hidden from now on: it keeps its controls when the run ends.
  w.pages[0]->answers.kill = false;
  w.log.clear();
  w.Press('F');
  QCOMPARE(w.ended, int(CNewWizDialog::kFinishId));
  QCOMPARE(w.Calls({"finish", "kill", "destroy"}),
           (QStringList{"p1.kill", "p0.finish", "p1.finish", "p0.kill", "p1.kill", "p1.destroy"}));
  QVERIFY(w.pages[0]->IsCreated());
  QVERIFY(w.pages[0]->Body() != nullptr);
  QVERIFY(!w.pages[1]->IsCreated());
  QVERIFY(w.pages[1]->Body() == nullptr);
  QVERIFY(!w.pages[2]->IsCreated());

  // The wizard goes first; the refusing page is asked again and keeps its controls, now without
  // a parent, until the page object itself goes.
  w.log.clear();
  w.dialog.reset();
  QCOMPARE(w.log, QStringList{"p0.kill"});
  QVERIFY(w.pages[0]->IsCreated());
  QVERIFY(w.pages[0]->parentWidget() == nullptr);
  QVERIFY(w.pages[0]->GetWizard() == nullptr);
  w.pages.clear();
}

void WizardTest::pageListOperations() {
  Wizard w(3);
  CNewWizDialog& d = *w.dialog;
  QCOMPARE(d.GetPageCount(), 3);
  QCOMPARE(d.GetActiveIndex(), -1);
  QVERIFY(!d.AddPage(w.pages[1].get(), 7));  // already listed
  QVERIFY(!d.AddPage(nullptr, 7));
  QCOMPARE(d.GetPage(2), w.pages[2].get());
  QVERIFY(d.GetPage(3) == nullptr);
  QVERIFY(d.GetPage(-1) == nullptr);
  QCOMPARE(d.GetPageIndex(w.pages[1].get()), 1);
  ProbePage stranger(9, w.log);
  QCOMPARE(d.GetPageIndex(&stranger), -1);
  QCOMPARE(w.pages[2]->GetResourceID(), kKeyBase + 2);
  QVERIFY(w.pages[0]->GetWizard() == nullptr);

  d.SetTitle(QStringLiteral("转换向导"));
  d.SetFinishText(QStringLiteral("转换"));
  QCOMPARE(d.windowTitle(), QStringLiteral("转换向导"));
  QCOMPARE(d.Button(CNewWizDialog::kFinishId)->text(), QStringLiteral("转换"));

  d.show();
  QCOMPARE(w.pages[0]->GetWizard(), &d);
  QVERIFY(w.pages[0]->IsActive());
  // Showing a page by position or key leaves the buttons alone.
  QVERIFY(d.SetActivePageByResource(kKeyBase + 2));
  QCOMPARE(w.State(), QStringLiteral("2:101:bNf"));
  QVERIFY(!w.pages[0]->IsActive());
  QVERIFY(w.pages[2]->IsActive());
  QVERIFY(!w.pages[0]->isVisible());
  QVERIFY(w.pages[2]->isVisible());
  QVERIFY(!d.SetActivePageByResource(555));
  QVERIFY(!d.SetActivePage(3));
  QVERIFY(!d.SetActivePage(&stranger));
  QVERIFY(d.SetActivePage(w.pages[1].get()));
  QCOMPARE(w.State(), QStringLiteral("1:111:bNf"));
  QVERIFY(d.SetActivePage(0));
  QCOMPARE(d.GetActiveIndex(), 0);
  // Pages may set the buttons themselves.
  d.EnableBack(true);
  d.EnableNext(false);
  d.EnableFinish(true);
  QCOMPARE(w.State(), QStringLiteral("0:111:BnF"));
  // OnCancel belongs to the page; the frame never calls it.
  QVERIFY(!w.log.contains("p0.cancelbutton"));

  // A page destroyed before its wizard leaves the list.
  w.pages[2].reset();
  QCOMPARE(d.GetPageCount(), 2);
  w.pages.pop_back();
}

void WizardTest::enterPressesNextThenFinish() {
  Wizard w(2);
  w.dialog->show();
  QTest::keyClick(w.dialog.get(), Qt::Key_Return);
  QCOMPARE(w.State(), QStringLiteral("1:11:BnF"));
  QTest::keyClick(w.dialog.get(), Qt::Key_Return);
  QCOMPARE(w.ended, int(CNewWizDialog::kFinishId));
}

void WizardTest::pageLook() {
  Wizard w(1);
  w.dialog->show();
  CNewWizPage& page = *w.pages[0];
  QCOMPARE(page.palette().color(QPalette::Window), QColor(Qt::white));
  QVERIFY(page.autoFillBackground());
  const QList<QLabel*> labels = page.findChildren<QLabel*>();
  QVERIFY(!labels.isEmpty());
  QCOMPARE(labels.front()->text(), QStringLiteral("页面 0"));
  QCOMPARE(labels.front()->font().pixelSize(), 16);
  QVERIFY(labels.front()->font().bold());
  QVERIFY(labels.front()->font().families().contains(QStringLiteral("Noto Sans CJK SC")));
  QVERIFY(page.Body() != nullptr);
  QCOMPARE(page.Body()->parentWidget(), &page);
}

void WizardTest::secondRunStartsAtFirstPage() {
  Wizard w(3);
  w.dialog->show();
  w.Press('N');
  w.Press('C');
  QCOMPARE(w.ended, int(QDialog::Rejected));
  w.ended = Wizard::kOpen;
  w.log.clear();
  w.dialog->show();
  QCOMPARE(w.State(), QStringLiteral("0:100:bNf"));
  QCOMPARE(w.Calls(kLifeCalls), QStringList{"p0.create"});
}

QTEST_MAIN(WizardTest)
#include "wizard_qtest.moc"
