#include "sim/BitstreamBuilder.h"
#include "sim/ServerBitstream.h"

#include <QtEndian>
#include <gtest/gtest.h>

namespace {

// Field of the .bit header with the given key, read the way the vendor's layout puts it.
QByteArray field(const QByteArray& file, char key) {
    int at = 13;
    while (at < file.size() && file[at] != 'e') {
        const int length = quint8(file[at + 1]) << 8 | quint8(file[at + 2]);
        if (file[at] == key) return file.mid(at + 3, length);
        at += 3 + length;
    }
    return {};
}

} // namespace

TEST(SimBitstreamBuilder, TheBitFileHeaderHasTheVendorsLayout) {
    const QByteArray payload = buildConfigPayload();
    BitFileOptions o;
    o.designName = "top.ncd;UserID=0xFFFFFFFF";
    o.partName = "3s200pq208";
    const QByteArray file = buildBitFile(payload, o);
    EXPECT_EQ(file.left(13), QByteArray::fromHex("00090FF00FF00FF00FF0000001"));
    EXPECT_EQ(file.mid(13, 3), QByteArray::fromHex("61001A")) << "key a, length with the NUL";
    EXPECT_EQ(field(file, 'a'), QByteArray("top.ncd;UserID=0xFFFFFFFF") + '\0');
    EXPECT_EQ(field(file, 'b'), QByteArray("3s200pq208") + '\0');
    EXPECT_EQ(field(file, 'c'), QByteArray("2024/03/12") + '\0');
    EXPECT_EQ(field(file, 'd'), QByteArray("14:05:33") + '\0');
    const int e = file.size() - payload.size() - 5;
    EXPECT_EQ(file[e], 'e');
    EXPECT_EQ(qFromBigEndian<quint32>(file.constData() + e + 1), quint32(payload.size()));
    EXPECT_EQ(file.mid(e + 5), payload);
}

TEST(SimBitstreamBuilder, ALongDesignNamePushesThePartNamePastByte64) {
    BitFileOptions o;
    o.designName = "a_rather_long_top_level_name;UserID=0XFFFFFFFF;Version=2017.4.1";
    const QByteArray file = buildBitFile(buildConfigPayload(), o);
    EXPECT_GT(file.indexOf("3s200pq208"), 64);
}

TEST(SimBitstreamBuilder, PayloadsHaveTheAskedSizeRoundedToWholeWords) {
    struct Row {
        qint64 asked;
        SyncWord sync;
        qint64 size;
    };
    for (Row row : {Row{4096, SyncWord::Word32, 4096}, Row{4097, SyncWord::Word32, 4100},
                    Row{130, SyncWord::Half16, 132}, Row{100'000, SyncWord::None, 100'000},
                    Row{10, SyncWord::Word32, -1}}) {
        PayloadOptions o;
        o.size = row.asked;
        o.sync = row.sync;
        const QByteArray p = buildConfigPayload(o);
        EXPECT_EQ(p.size() % 4, 0);
        if (row.size > 0)
            EXPECT_EQ(p.size(), row.size) << row.asked;
        else
            EXPECT_GT(p.size(), row.asked) << "too small for the packets: grown to the minimum";
    }
}

TEST(SimBitstreamBuilder, PayloadsStartWithPaddingAndTheSyncWordOfTheFamily) {
    struct Row {
        SyncWord sync;
        bool busWidth;
        QByteArray afterPadding;
    };
    const Row rows[] = {
        {SyncWord::Word32, false, QByteArray::fromHex("AA99556620000000")},
        {SyncWord::Half16, false, QByteArray::fromHex("AA99200030A1")},
        {SyncWord::Word32, true, QByteArray::fromHex("000000BB11220044")},
    };
    for (const Row& row : rows) {
        PayloadOptions o;
        o.padding = 8;
        o.sync = row.sync;
        o.busWidthPattern = row.busWidth;
        const QByteArray p = buildConfigPayload(o);
        EXPECT_EQ(p.left(8), QByteArray(8, '\xFF'));
        EXPECT_EQ(p.mid(8, row.afterPadding.size()).toHex(), row.afterPadding.toHex());
    }
    EXPECT_EQ(buildConfigPayload().right(4), QByteArray::fromHex("20000000")) << "ends with NOOPs";
}

TEST(SimBitstreamBuilder, TheServerStandInLooksLikeASpartan3eDesign) {
    const QByteArray file = serverBitFile();
    EXPECT_EQ(field(file, 'a'), QByteArray("bpi_server_v036.ncd") + '\0');
    EXPECT_EQ(field(file, 'b'), QByteArray("3s1600efg320") + '\0');
    EXPECT_LT(file.indexOf(QByteArray("3s1600efg320") + '\0'), 64 - 13)
        << "the part name and its NUL lie within the first 64 bytes";
    EXPECT_GT(file.size(), 30'000);
    EXPECT_LT(file.size(), 40'000);
}
