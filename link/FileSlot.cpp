#include "link/FileSlot.h"

#include "link/RuntimeError.h"

#include <QFileInfo>

void FileSlot::close() {
    if (file_.isOpen())
        file_.close();
}

static RuntimeError openFailure(const QString& path, bool mustExist) {
    const QFileInfo info(path);
    if (path.isEmpty())
        return RuntimeError(RuntimeError::BadFileNameOrNumber, "Bad file name or number");
    if (mustExist && !info.exists())
        return RuntimeError(RuntimeError::FileNotFound, "File not found: " + path);
    return RuntimeError(RuntimeError::PathFileAccessError, "Path/File access error: " + path);
}

void FileSlot::openForReading(const QString& path) {
    close();
    file_.setFileName(path);
    if (QFileInfo(path).isDir() || !file_.open(QIODevice::ReadOnly))
        throw openFailure(path, true);
}

void FileSlot::openForWriting(const QString& path) {
    close();
    file_.setFileName(path);
    if (QFileInfo(path).isDir() || !file_.open(QIODevice::ReadWrite))
        throw openFailure(path, false);
}

QByteArray FileSlot::readAt(qint64 position, qint64 count) {
    if (!file_.isOpen())
        throw RuntimeError(RuntimeError::BadFileNameOrNumber, "Bad file name or number");
    if (!file_.seek(position))
        return {};
    return file_.read(count);
}

void FileSlot::writeAt(qint64 position, const QByteArray& bytes) {
    if (!file_.isOpen())
        throw RuntimeError(RuntimeError::BadFileNameOrNumber, "Bad file name or number");
    if (!file_.seek(position) || file_.write(bytes) != bytes.size() || !file_.flush())
        throw RuntimeError(RuntimeError::DeviceIoError, "Device I/O error: " + file_.fileName());
}
