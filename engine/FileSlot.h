#pragma once

#include <QFile>
#include <QString>
#include <functional>
#include <memory>

class QFileDevice;

// The one data file the sequences and the description reader share. Failures throw
// RuntimeError with the classic numbers (53 not found, 75 access, 62 past end).
class FileSlot {
public:
    // The output path that stands for standard output.
    static inline const QString StandardOutput = QStringLiteral("-");

    bool isOpen() const { return file_.isOpen() || output_ != nullptr; }
    // Closes the file; an output not committed is discarded and its target left as it was.
    void close();
    void openForReading(const QString& path);
    // A read's result goes to a temporary file beside the target (or of its own, for standard
    // output), and reaches the target only through commit(): whole, with exactly the bytes
    // written, or not at all.
    void openForWriting(const QString& path);
    // Puts the output in place; false, with the reason in commitError(), when it cannot be.
    bool commit();
    const QString& commitError() const { return commitError_; }
    // What the operator is told when commit() failed.
    QString commitFailure() const;
    qint64 size() const { return file_.size(); }
    // Reads up to count bytes at position; fewer at the end of the file.
    QByteArray readAt(qint64 position, qint64 count);
    // The same, with the erased value 0xFF past the end of the file: what a flash holds where an
    // image gives nothing (programming 0xFF leaves a NOR cell as it is).
    QByteArray readAtOrErased(qint64 position, qint64 count);
    void writeAt(qint64 position, const QByteArray& bytes);
    // Told the target's path when an output is discarded, so that the operator hears of it.
    std::function<void(const QString&)> onDiscarded;

private:
    bool copyToStandardOutput();

    QFile file_;
    std::unique_ptr<QFileDevice> output_;
    QString target_;
    bool written_ = false;
    QString commitError_;
};
