#include "PanelFixture.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

QString writeFile(const QString& folder, const QString& name, const QByteArray& bytes) {
    QDir().mkpath(folder);
    const QString path = folder + "/" + name;
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

QByteArray randomBytes(int size, quint32 seed) {
    QRandomGenerator gen(seed);
    QByteArray out(size, '\0');
    for (auto& c : out)
        c = char(gen.bounded(256));
    return out;
}

QByteArray readFile(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray hexRecord(int type, int address, const QByteArray& data, const char* lineEnd) {
    QByteArray bytes;
    bytes.append(char(data.size())).append(char(address >> 8)).append(char(address));
    bytes.append(char(type)).append(data);
    quint8 sum = 0;
    for (const char b : bytes)
        sum -= quint8(b);
    return ":" + bytes.append(char(sum)).toHex().toUpper() + lineEnd;
}

QByteArray intelHex(const QByteArray& data) {
    QByteArray out;
    for (qsizetype at = 0; at < data.size(); at += 32) {
        if (at % 0x10000 == 0)
            out += hexRecord(
                4, 0, QByteArray::fromHex(QByteArray::number(at >> 16, 16).rightJustified(4, '0')));
        out += hexRecord(0, int(at & 0xFFFF), data.mid(at, 32));
    }
    return out + hexRecord(1, 0);
}
