#pragma once

#include <QFile>
#include <QSaveFile>
#include <QString>
#include <functional>
#include <memory>

// The one data file the sequences and the description reader share. Failures throw
// RuntimeError with the classic numbers (53 not found, 75 access, 62 past end).
class FileSlot {
public:
    bool isOpen() const { return file_.isOpen() || output_ != nullptr; }
    // Closes the file; an output not committed is discarded and its target left as it was.
    void close();
    void openForReading(const QString& path);
    // A read's result goes to a temporary file beside the target, which holds exactly the
    // bytes written once commit() has renamed it into place, and is untouched until then.
    void openForWriting(const QString& path);
    // Puts the output in place; false (with the output discarded) when it cannot be.
    bool commit();
    qint64 size() const { return file_.size(); }
    // Reads up to count bytes at position; fewer at the end of the file.
    QByteArray readAt(qint64 position, qint64 count);
    void writeAt(qint64 position, const QByteArray& bytes);
    // Told the target's path when an output is discarded, so that the operator hears of it.
    std::function<void(const QString&)> onDiscarded;

private:
    QFile file_;
    std::unique_ptr<QSaveFile> output_;
    bool written_ = false;
};
