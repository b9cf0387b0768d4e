#pragma once

// A Prompter for the Qt tests: it records every message and question, answers questions and folder
// browsers from queues, and never opens a window.

#include <QList>
#include <QString>
#include <QStringList>

#include "wendle/prompter.h"

namespace KvxTest {

// `Base` is Wendle::Prompter or an interface that extends it.
template <class Base>
class RecordingPrompterOf : public Base {
 public:
  struct Shown {
    Wendle::MessageIcon icon;
    QString caption;
    QString text;
  };

  void Message(QWidget*, Wendle::MessageIcon icon, const QString& caption, const QString& text) override {
    messages.append({icon, caption, text});
  }
  bool Question(QWidget*, const QString& caption, const QString& text) override {
    questions.append(caption + QStringLiteral("|") + text);
    return answers.isEmpty() ? false : answers.takeFirst();
  }
  QString PickFolder(QWidget*, const QString&, const QString& start) override {
    browserStarts.append(start);
    return pickedFolders.isEmpty() ? QString() : pickedFolders.takeFirst();
  }

  // The texts of the messages shown, in order.
  QStringList Texts() const {
    QStringList texts;
    for (const Shown& m : messages) texts.append(m.text);
    return texts;
  }

  QList<Shown> messages;
  QStringList questions;
  QList<bool> answers;        // Question answers, in order; false once empty
  QStringList browserStarts;  // the folder each browser opened in
  QStringList pickedFolders;  // the browsers' choices, in order; cancelled once empty
};

using RecordingPrompter = RecordingPrompterOf<Wendle::Prompter>;

}  // namespace KvxTest
