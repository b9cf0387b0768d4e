#pragma once

// Paths between the settings (native file-system bytes, UTF-8) and the dialogs' text boxes.

#include <string>

#include <QByteArray>
#include <QFile>
#include <QString>

namespace Kvx {

inline QString PathText(const std::string& path) { return QFile::decodeName(QByteArray::fromStdString(path)); }
inline std::string PathString(const QString& text) { return QFile::encodeName(text).toStdString(); }

}  // namespace Kvx
