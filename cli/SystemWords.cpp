#include "cli/SystemWords.h"

#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {
QString said(const QString& path, int error) {
    return path + ": " + QString::fromLocal8Bit(std::strerror(error));
}
} // namespace

QString readProblem(const QString& path) {
    const QFileInfo info(path);
    // Opened, a folder reads as empty and a pipe may never end: the system is not asked.
    if (info.isDir())
        return said(path, EISDIR);
    if (info.exists() && !info.isFile())
        return path + ": not a regular file";
    errno = 0;
    std::FILE* file = std::fopen(QFile::encodeName(path).constData(), "rb");
    if (!file)
        return said(path, errno != 0 ? errno : ENOENT);
    std::fclose(file);
    return {};
}

QString writeProblem(const QString& path) {
    const QFileInfo info(path);
    if (info.isDir())
        return said(path, EISDIR);
    if (info.exists() && !info.isFile())
        return path + ": not a regular file";
    // The read is written beside its target and renamed over it at the end.
    QTemporaryFile trial(info.absolutePath() + "/.zbpu-cli-XXXXXX");
    if (!trial.open())
        return path + ": " + trial.errorString();
    return {};
}
