// File names between Qt and the libraries: the libraries carry them as UTF-8 text on Windows
// and as the file system's bytes on POSIX (files/utf8_path.h).
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>
#include <string>

#include "files/utf8_path.h"

namespace tollwick {

// A name the user chose, as the libraries take it.
inline std::string FileNameArgument(const QString& name) {
#ifdef Q_OS_WIN
    return name.toStdString();
#else
    return QFile::encodeName(name).toStdString();
#endif
}

// A path as the windows show it.
inline QString FileNameText(const std::filesystem::path& path) {
#ifdef Q_OS_WIN
    return QString::fromStdWString(path.native());
#else
    return QFile::decodeName(path.native().c_str());
#endif
}

}  // namespace tollwick
