#pragma once

#include <QFile>
#include <QString>

// The one data file the sequences and the description reader share. Failures throw
// RuntimeError with the classic numbers (53 not found, 75 access, 62 past end).
class FileSlot {
public:
    bool isOpen() const { return file_.isOpen(); }
    void close();
    void openForReading(const QString& path);
    // Writing never truncates: bytes beyond those written keep their old values.
    void openForWriting(const QString& path);
    qint64 size() const { return file_.size(); }
    // Reads up to count bytes at position; fewer at the end of the file.
    QByteArray readAt(qint64 position, qint64 count);
    void writeAt(qint64 position, const QByteArray& bytes);

private:
    QFile file_;
};
