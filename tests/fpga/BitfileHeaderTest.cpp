#include "fpga/BitfileHeader.h"

#include "link/RuntimeError.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QByteArray field(char key, const QByteArray& text) {
    const int n = int(text.size()) + 1;
    return QByteArray(1, key) + char(n >> 8) + char(n & 0xFF) + text + '\0';
}

QByteArray rawBitstream(int bytes) {
    QByteArray raw(32, char(0xFF));
    raw += QByteArray::fromHex("aa995566300080010000000720000000");
    while (raw.size() < bytes)
        raw += QByteArray::fromHex("20000000");
    return raw.left(bytes);
}

// A .bit file as the vendor's tools write it: preamble, fields a to d, then e and the data.
QByteArray bitFile(const QByteArray& design, const QByteArray& part, int dataBytes = 4096) {
    QByteArray f = QByteArray::fromHex("00090ff00ff00ff00ff0000001");
    f += field('a', design) + field('b', part) + field('c', "2011/03/14") + field('d', "10:22:05");
    f += 'e';
    for (int shift : {24, 16, 8, 0})
        f += char((dataBytes >> shift) & 0xFF);
    return f + rawBitstream(dataBytes);
}

class BitfileHeader : public ::testing::Test {
protected:
    QString write(const QByteArray& bytes) {
        const QString path = dir.filePath(QString("f%1.bit").arg(++count));
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            ADD_FAILURE() << "cannot write " << path.toStdString();
        return path;
    }

    QTemporaryDir dir;
    int count = 0;
};

} // namespace

TEST_F(BitfileHeader, ThePartNameRunsFromTheFirstFamilyCodeToTheNextNulWithinSixtyFourBytes) {
    const QByteArray vivadoName = "top;UserID=0XFFFFFFFF;Version=2017.4.1";
    struct Case {
        const char* what;
        QByteArray file;
        QString device;
    } cases[] = {
        {"Spartan-3 part", bitFile("top.ncd;UserID=0xFFFFFFFF", "3s200pq208"), "3s200pq208"},
        {"Virtex-4 part", bitFile("system.ncd", "4vfx20ff672"), "4vfx20ff672"},
        {"Virtex-5 part", bitFile("system.ncd;HW_TIMEOUT=FALSE", "5vfx70tff1136"), "5vfx70tff1136"},
        {"3s inside the design name", bitFile("uart3s.ncd", "5vfx70tff1136"), "3s.ncd"},
        {"5v in the design name, Spartan-3 part", bitFile("ml5v.ncd", "3s1200efg320"),
         "3s1200efg320"},
        {"long design name pushes the part past byte 64",
         bitFile("design_1_wrapper;UserID=0XFFFFFFFF;Version=2017.4.1", "5vfx70tff1136"),
         "Not recognized"},
        {"part name starts before byte 64 and ends after it", bitFile(vivadoName, "3s200pq208"),
         ""},
        {"raw .bin", rawBitstream(8192), "Not recognized"},
        {"file shorter than 64 bytes with a part name", QByteArray("3s50\0", 5), "3s50"},
        {"file shorter than 64 bytes without one", "xyz", "Not recognized"},
        {"empty file", "", "Not recognized"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const BitfileInfo info = readBitfileHeader(write(c.file));
        EXPECT_EQ(info.device, c.device);
        EXPECT_EQ(info.length, QString::number(c.file.size()));
    }
}

TEST(BitfileHeaderSearch, OnlyTheFirstSixtyFourBytesAreSearched) {
    struct Case {
        const char* what;
        QByteArray bytes;
        QString device;
    } cases[] = {
        {"code beyond byte 64", QByteArray(70, 'x') + QByteArray("3s50\0", 5), "Not recognized"},
        {"NUL beyond byte 64", QByteArray(60, 'x') + QByteArray("3s500e\0", 7), ""},
        {"3s wins over an earlier 4v", QByteArray("4vA\0003sB\0", 8), "3sB"},
        {"4v wins over an earlier 5v", QByteArray("5vA\0004vB\0", 8), "4vB"},
        {"codes are case-sensitive", QByteArray("3S50\0", 5), "Not recognized"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(deviceFromHeader(c.bytes), c.device);
    }
}

TEST_F(BitfileHeader, AFileThatCannotBeOpenedFailsWithItsNumber) {
    struct Case {
        const char* what;
        QString path;
        int number;
    } cases[] = {
        {"missing file", dir.filePath("missing.bit"), RuntimeError::FileNotFound},
        {"a directory", dir.path(), RuntimeError::PathFileAccessError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        try {
            readBitfileHeader(c.path);
            ADD_FAILURE() << "no failure";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), c.number);
        }
    }
}
