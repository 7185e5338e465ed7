#include "engine/FileSlot.h"

#include "engine/RuntimeError.h"

#include <QFileInfo>
#include <QSaveFile>
#include <QTemporaryFile>
#include <cerrno>
#include <cstdio>
#include <cstring>

void FileSlot::close() {
    if (file_.isOpen())
        file_.close();
    if (!output_)
        return;
    if (auto* save = dynamic_cast<QSaveFile*>(output_.get()))
        save->cancelWriting();
    output_.reset();
    const bool written = written_;
    written_ = false;
    if (written && onDiscarded)
        onDiscarded(target_ == StandardOutput ? QString("standard output") : target_);
}

bool FileSlot::commit() {
    commitError_.clear();
    if (!output_)
        return false;
    bool done = false;
    if (auto* save = dynamic_cast<QSaveFile*>(output_.get())) {
        done = save->commit();
        if (!done)
            commitError_ = save->errorString();
    } else {
        done = copyToStandardOutput();
    }
    output_.reset();
    written_ = false;
    return done;
}

QString FileSlot::commitFailure() const {
    return (target_ == StandardOutput
                ? QString("The data read could not be written to standard output")
                : "The data read could not be put in place as " + target_) +
           ": " + commitError_;
}

// Every write and the flush are checked: a full disk or a closed pipe is a failure.
bool FileSlot::copyToStandardOutput() {
    output_->seek(0);
    errno = 0;
    while (!output_->atEnd()) {
        const QByteArray piece = output_->read(1 << 16);
        if (piece.isEmpty() ||
            std::fwrite(piece.constData(), 1, size_t(piece.size()), stdout) != size_t(piece.size()))
            break;
    }
    if (output_->atEnd() && std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    commitError_ = errno != 0 ? QString::fromLocal8Bit(std::strerror(errno)) : "write error";
    std::clearerr(stdout);
    return false;
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
    target_ = path;
    if (path == StandardOutput) {
        auto buffer = std::make_unique<QTemporaryFile>();
        if (!buffer->open())
            throw openFailure(buffer->fileTemplate(), false);
        output_ = std::move(buffer);
        return;
    }
    // Only a regular file is replaced: a socket, a pipe or a device in its place is not data.
    const QFileInfo info(path);
    auto save = std::make_unique<QSaveFile>(path);
    if (path.isEmpty() || (info.exists() && !info.isFile()) || !save->open(QIODevice::WriteOnly))
        throw openFailure(path, false);
    output_ = std::move(save);
}

QByteArray FileSlot::readAtOrErased(qint64 position, qint64 count) {
    QByteArray data = readAt(position, count);
    if (data.size() < count)
        data.append(QByteArray(count - data.size(), char(0xFF)));
    return data;
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
        throw RuntimeError(RuntimeError::DeviceIoError, "Device I/O error: " + target_);
}
