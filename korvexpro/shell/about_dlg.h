#pragma once

// The about box: the program's icon and name, "当前版本：" with the version, and the disclaimer.

#include <QDialog>
#include <QString>

class QLabel;

namespace Kvx {

class CAboutDlg : public QDialog {
  Q_OBJECT

 public:
  explicit CAboutDlg(const QString& version, QWidget* parent = nullptr);
  // The line "当前版本：<version>".
  QLabel* VersionLabel() const { return version_; }

 private:
  QLabel* version_;
};

inline constexpr char kVersionPrefix[] = "当前版本：";

}  // namespace Kvx
