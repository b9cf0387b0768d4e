#include "shell/about_dlg.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>

#include "shell/command_icons.h"
#include "wendle/fonts.h"

namespace Kvx {

CAboutDlg::CAboutDlg(const QString& version, QWidget* parent) : QDialog(parent) {
  setWindowTitle(QStringLiteral("关于 KorvexPro"));
  auto* grid = new QGridLayout(this);
  auto* icon = new QLabel(this);
  icon->setPixmap(ApplicationIcon().pixmap(64, 64));
  icon->setAlignment(Qt::AlignTop);
  auto* name = new QLabel(QStringLiteral("KorvexPro 格式转换工具"), this);
  name->setFont(Wendle::PageTitleFont());
  version_ = new QLabel(QString::fromUtf8(kVersionPrefix) + version, this);
  version_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  auto* disclaimer = new QLabel(
      QStringLiteral("把 MapGIS 6.x 的点、线、面、网络图层，属性表和工程转换为 ESRI Shapefile，"
                     "保留图例、颜色和注释。\n\n"
                     "本软件按“现状”提供，不附带任何明示或暗示的担保。转换结果请在使用前核对；"
                     "因使用本软件造成的任何损失，作者不承担责任。"),
      this);
  disclaimer->setWordWrap(true);
  disclaimer->setMinimumWidth(360);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("确定"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  grid->addWidget(icon, 0, 0, 3, 1);
  grid->addWidget(name, 0, 1);
  grid->addWidget(version_, 1, 1);
  grid->addWidget(disclaimer, 2, 1);
  grid->addWidget(buttons, 3, 0, 1, 2);
}

}  // namespace Kvx
