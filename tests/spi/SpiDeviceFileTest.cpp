#include "spi/SpiDeviceFile.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <optional>

namespace {

using ByteField = std::int16_t SpiDescription::*;
using LongField = std::int32_t SpiDescription::*;
using Table = QList<std::int16_t>;

// The failure number, or nothing when the text was read without one.
std::optional<int> readFailure(const QByteArray& text, SpiDescription& d) {
    try {
        readSpiDeviceText(text, d);
    } catch (const RuntimeError& e) {
        return e.number();
    }
    return std::nullopt;
}

const QByteArray threeIdPairs = "NIDB      03\r\n"
                                "IDM       01\r\n"
                                "IDB       20\r\n"
                                "IDM       02\r\n"
                                "IDB       BA\r\n"
                                "IDM       03\r\n"
                                "IDB       18\r\n";

} // namespace

TEST(SpiDeviceFile, ByteValuesComeFromColumnsElevenAndTwelveOrTheLastTwoCharactersOfAShortLine) {
    struct Case {
        const char* what;
        QByteArray line;
        ByteField field;
        std::int16_t expected;
    } cases[] = {
        {"key, six blanks, value", "WREN      06", &SpiDescription::WREN, 6},
        {"seven characters: the last two", "WREN=06", &SpiDescription::WREN, 6},
        {"digits above 9", "BLKE      C7", &SpiDescription::BLKE, 199},
        {"lower-case digits", "BLKE      c7", &SpiDescription::BLKE, 199},
        {"text after column 12 is not read", "RDID      9F  read id 0x", &SpiDescription::RDID,
         159},
        {"no separator rule after the key", "WRENABLE  06", &SpiDescription::WREN, 6},
        {"lower-case key sets nothing", "wren      06", &SpiDescription::WREN, 0},
        {"a key not at the line start sets nothing", " WREN     06", &SpiDescription::WREN, 0},
        {"one of the trailing keys", "DUMB      FF", &SpiDescription::DUMB, 255},
        {"MEPI", "MEPI      40", &SpiDescription::MEPI, 64},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpiDescription d;
        readSpiDeviceText(c.line + "\r\n", d);
        EXPECT_EQ(d.*c.field, c.expected);
    }
}

TEST(SpiDeviceFile, ThirtyTwoBitValuesComeFromColumnsElevenToTwentyTwoOrTheLastTwelveCharacters) {
    struct Case {
        const char* what;
        QByteArray line;
        LongField field;
        std::int32_t expected;
    } cases[] = {
        {"twelve digits with leading zeros", "MBPP      000000000100", &SpiDescription::MBPP, 256},
        {"two mebibytes", "BPRD      000000200000", &SpiDescription::BPRD, 2 * 1024 * 1024},
        {"text after column 22 is not read", "BPRD      000001000000  16 MiB",
         &SpiDescription::BPRD, 16 * 1024 * 1024},
        {"short line: the last twelve", "MBPP=000000000200", &SpiDescription::MBPP, 512},
        {"largest positive value", "BPRD      00007FFFFFFF", &SpiDescription::BPRD, 0x7FFFFFFF},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpiDescription d;
        readSpiDeviceText(c.line + "\r\n", d);
        EXPECT_EQ(d.*c.field, c.expected);
    }
}

TEST(SpiDeviceFile, AFaultyLineFailsWithTheNumberOfItsKindOfFailure) {
    struct Case {
        const char* what;
        QByteArray text;
        int number;
    } cases[] = {
        {"0x prefix in columns 11 and 12", "RDSR      0x05\r\n", RuntimeError::TypeMismatch},
        {"letter beyond F", "WREN      0G\r\n", RuntimeError::TypeMismatch},
        {"blank inside the value", "WREN      0 \r\n", RuntimeError::TypeMismatch},
        {"byte line truncated mid-value", "WREN      0\r\n", RuntimeError::TypeMismatch},
        {"key alone", "WREN\r\n", RuntimeError::TypeMismatch},
        {"32-bit line truncated mid-value", "MBPP      0000001\r\n", RuntimeError::TypeMismatch},
        {"32-bit line shorter than twelve", "MBPP100\r\n", RuntimeError::TypeMismatch},
        {"2^31 does not fit", "BPRD      000080000000\r\n", RuntimeError::Overflow},
        {"2^32 does not fit", "BPRD      000100000000\r\n", RuntimeError::Overflow},
        {"IDM before NIDB", "IDM       01\r\nIDB       20\r\n", RuntimeError::SubscriptOutOfRange},
        {"IDM after NIDB 00", "NIDB      00\r\nIDM       01\r\nIDB       20\r\n",
         RuntimeError::SubscriptOutOfRange},
        {"more IDM than NIDB",
         "NIDB      01\r\nIDM       01\r\nIDB       20\r\nIDM       02\r\nIDB       20\r\n",
         RuntimeError::SubscriptOutOfRange},
        {"IDM on the last line", "NIDB      03\r\nIDM       01", RuntimeError::InputPastEnd},
        {"IDM on the last line ended by CR LF", "NIDB      03\r\nIDM       01\r\n",
         RuntimeError::InputPastEnd},
        {"IDM followed by an empty line", "NIDB      03\r\nIDM       01\r\n\r\n",
         RuntimeError::TypeMismatch},
        {"IDM line itself not hexadecimal", "NIDB      03\r\nIDM       zz\r\nIDB       20\r\n",
         RuntimeError::TypeMismatch},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpiDescription d;
        EXPECT_EQ(readFailure(c.text, d), c.number);
    }
}

TEST(SpiDeviceFile, ThreeIdmPairsGiveTheExpectedIdentificationBytesInFileOrder) {
    SpiDescription d;
    readSpiDeviceText(threeIdPairs, d);
    EXPECT_EQ(d.NIDB, 3);
    EXPECT_EQ(d.IDM1, (Table{0, 1, 2, 3}));
    EXPECT_EQ(d.IDM2, (Table{0, 0x20, 0xBA, 0x18}));
}

TEST(SpiDeviceFile, AFourthIdmLineFailsAfterTheFirstThreeAreStored) {
    SpiDescription d;
    EXPECT_EQ(readFailure(threeIdPairs + "IDM       04\r\nIDB       99\r\n", d),
              RuntimeError::SubscriptOutOfRange);
    EXPECT_EQ(d.IDM2, (Table{0, 0x20, 0xBA, 0x18}));
}

TEST(SpiDeviceFile, TheLineAfterAnIdmLineStillSetsOnlyTheSizesLimitsAndDummyByte) {
    struct Case {
        const char* what;
        QByteArray following;
        std::int16_t expectedId;
        std::int16_t mepi;
        std::int16_t wren;
    } cases[] = {
        {"MEPI is recognised", "MEPI      40", 0x40, 0x40, 0},
        {"WREN is not", "WREN      06", 0x06, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpiDescription d;
        readSpiDeviceText("NIDB      01\r\nIDM       01\r\n" + c.following + "\r\n", d);
        EXPECT_EQ(d.IDM2.value(1), c.expectedId);
        EXPECT_EQ(d.MEPI, c.mepi);
        EXPECT_EQ(d.WREN, c.wren);
    }
}

TEST(SpiDeviceFile, ASecondNidbLineEmptiesBothTablesWhileIdmLinesKeepCounting) {
    SpiDescription d;
    readSpiDeviceText("NIDB      01\r\nIDM       01\r\nIDB       20\r\n"
                      "NIDB      02\r\nIDM       07\r\nIDB       30\r\n",
                      d);
    EXPECT_EQ(d.IDM1, (Table{0, 0, 7}));
    EXPECT_EQ(d.IDM2, (Table{0, 0, 0x30}));
}

TEST(SpiDeviceFile, WhenAKeyOccursTwiceTheLastOneWins) {
    SpiDescription d;
    readSpiDeviceText("WREN      05\r\nWREN      06\r\n", d);
    EXPECT_EQ(d.WREN, 6);
}

TEST(SpiDeviceFile, AFileWithoutMepiReadAfterOneWithMepi40Keeps64Polls) {
    SpiDescription d;
    readSpiDeviceText("MEPI      40\r\nMPPI      10\r\n", d);
    readSpiDeviceText("MPPI      20\r\n", d);
    EXPECT_EQ(d.MEPI, 64);
    EXPECT_EQ(d.MPPI, 0x20);
}

TEST(SpiDeviceFile, ACommentLineBeginningWithReadChangesTheReadOpcode) {
    SpiDescription d;
    readSpiDeviceText("READ fast:0B\r\n", d);
    EXPECT_EQ(d.READ, 0x0B);
}

TEST(SpiDeviceFile, ValuesSetBeforeAFailureKeepTheirNewValuesAndLaterOnesTheirOldValues) {
    SpiDescription d;
    d.RDSR = 0x55;
    EXPECT_EQ(readFailure("WREN      07\r\nWRDI      0x\r\nRDSR      09\r\n", d),
              RuntimeError::TypeMismatch);
    EXPECT_EQ(d.WREN, 7);
    EXPECT_EQ(d.WRDI, 0);
    EXPECT_EQ(d.RDSR, 0x55);
}

TEST(SpiDeviceFile, CrCrLfAndLfLineEndsReadTheSame) {
    const QByteArrayList lines{"WREN      06",           "NIDB      02", "IDM       01",
                               "IDB       EF",           "IDM       02", "IDB       40",
                               "MBPP      000000000100", "DUMB      FF"};
    SpiDescription expected;
    readSpiDeviceText(lines.join("\r\n"), expected);
    ASSERT_EQ(expected.IDM2, (Table{0, 0xEF, 0x40}));
    for (const char* end : {"\r", "\n", "\r\n"}) {
        SCOPED_TRACE(QByteArray(end).toHex().constData());
        SpiDescription d;
        readSpiDeviceText(lines.join(end) + end, d);
        EXPECT_EQ(d, expected);
    }
}

TEST(SpiDeviceFile, AnEmptyFileOrOneOfBlankAndCommentLinesChangesNothing) {
    SpiDescription before;
    readSpiDeviceText(threeIdPairs + "WREN      06\r\nMEPI      40\r\n", before);
    for (const QByteArray& text : {QByteArray(), QByteArray("\r\n\r\n; nothing here\r\n\n")}) {
        SpiDescription d = before;
        readSpiDeviceText(text, d);
        EXPECT_EQ(d, before);
    }
}

TEST(SpiDeviceFile, BinaryDataFailsWithARuntimeErrorOrReadsWithoutCrashing) {
    SpiDescription d;
    EXPECT_EQ(readFailure(QByteArray("WREN\0\xff\x80\x01\x02\x03\x04\x05\x06\x07\x08", 15), d),
              RuntimeError::TypeMismatch);

    QRandomGenerator random(20240611);
    for (int round = 0; round < 200; ++round) {
        QByteArray blob(int(random.bounded(1, 400)), '\0');
        for (char& b : blob)
            b = char(random.bounded(256));
        // Keys at line starts, so that values and IDM pairs are really exercised.
        static const QByteArrayList keys{"WREN", "NIDB", "IDM", "MBPP", "BPRD", "MEPI"};
        blob.prepend(keys[round % keys.size()]);
        SpiDescription any;
        try {
            readSpiDeviceText(blob, any);
        } catch (const RuntimeError&) {
        }
    }
}

TEST(SpiDeviceFile, TheFailureMessageHasFiveLinesJoinedWithCrLf) {
    EXPECT_EQ(spiDeviceFailureMessage(RuntimeError(RuntimeError::TypeMismatch, "Type mismatch")),
              "Error: 13\r\n"
              "Type mismatch\r\n"
              "\r\n"
              "This error has most likely been caused by an incorrect .sfh file.\r\n"
              "Please verify the file format.");
}

TEST(SpiDeviceFile, LoadingAFileThatCannotBeOpenedFailsAndChangesNothing) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    struct Case {
        const char* what;
        QString path;
        int number;
    } cases[] = {
        {"missing file", dir.filePath("NOPE.sfh"), RuntimeError::FileNotFound},
        {"a directory", dir.path(), RuntimeError::PathFileAccessError},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        SpiDescription d;
        d.WREN = 6;
        try {
            loadSpiDeviceFile(c.path, d);
            ADD_FAILURE() << "no failure";
        } catch (const RuntimeError& e) {
            EXPECT_EQ(e.number(), c.number);
        }
        EXPECT_EQ(d.WREN, 6);
    }
}

TEST(SpiDeviceFile, LoadingAFileReadsItsText) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    QFile file(dir.filePath("X.sfh"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("BLKE      C7\r\nBPRD      000000400000\r\n");
    file.close();
    SpiDescription d;
    loadSpiDeviceFile(file.fileName(), d);
    EXPECT_EQ(d.BLKE, 0xC7);
    EXPECT_EQ(d.BPRD, 4 * 1024 * 1024);
}
