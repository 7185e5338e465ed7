#include "fpga/BitfileHeader.h"

#include "engine/RuntimeError.h"

#include <QFile>
#include <QFileInfo>

namespace {

constexpr qsizetype headerBytes = 64;

RuntimeError accessError() {
    return RuntimeError(RuntimeError::PathFileAccessError, "Path/File access error");
}

} // namespace

QString deviceFromHeader(const QByteArray& first64) {
    const QByteArray head = first64.left(headerBytes);
    // The header fields are not parsed: the first family code anywhere wins, in this order, even
    // when it stands inside the design name.
    for (const char* code : {"3s", "4v", "5v"}) {
        const qsizetype at = head.indexOf(code);
        if (at < 0)
            continue;
        const qsizetype nul = head.indexOf('\0', at);
        return nul < 0 ? QString("") : QString::fromLatin1(head.mid(at, nul - at));
    }
    return "Not recognized";
}

BitfileInfo readBitfileHeader(const QString& path) {
    const QFileInfo info(path);
    if (!info.exists())
        throw RuntimeError(RuntimeError::FileNotFound, "File not found");
    QFile file(path);
    if (info.isDir() || !file.open(QIODevice::ReadOnly))
        throw accessError();
    const QByteArray head = file.read(headerBytes);
    if (file.error() != QFileDevice::NoError)
        throw accessError();
    return {QString::number(file.size()), deviceFromHeader(head)};
}
