#include "link/FileSlot.h"

#include "link/RuntimeError.h"

#include <QFileInfo>

void FileSlot::close() {
    if (file_.isOpen())
        file_.close();
    if (!output_)
        return;
    const QString target = output_->fileName();
    const bool written = written_;
    output_->cancelWriting();
    output_.reset();
    written_ = false;
    if (written && onDiscarded)
        onDiscarded(target);
}

bool FileSlot::commit() {
    if (!output_)
        return false;
    const bool done = output_->commit();
    output_.reset();
    written_ = false;
    return done;
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
    output_ = std::make_unique<QSaveFile>(path);
    // Only a regular file is replaced: a socket, a pipe or a device in its place is not data.
    const QFileInfo target(path);
    if (path.isEmpty() || (target.exists() && !target.isFile()) ||
        !output_->open(QIODevice::WriteOnly)) {
        output_.reset();
        throw openFailure(path, false);
    }
}

QByteArray FileSlot::readAt(qint64 position, qint64 count) {
    if (!file_.isOpen())
        throw RuntimeError(RuntimeError::BadFileNameOrNumber, "Bad file name or number");
    if (!file_.seek(position))
        return {};
    return file_.read(count);
}

void FileSlot::writeAt(qint64 position, const QByteArray& bytes) {
    if (!output_)
        throw RuntimeError(RuntimeError::BadFileNameOrNumber, "Bad file name or number");
    written_ = true;
    if (!output_->seek(position) || output_->write(bytes) != bytes.size() || !output_->flush())
        throw RuntimeError(RuntimeError::DeviceIoError, "Device I/O error: " + output_->fileName());
}
