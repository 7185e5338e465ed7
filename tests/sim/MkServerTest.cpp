#include "sim/ServerBitstream.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

// The server bitstream's writer names its output with -o (or --output), or first as it always
// did; nothing else is ever taken for the file to write.
TEST(MkServer, WritesTheServerBitstreamWhereItIsToldAndNowhereElse) {
    const struct {
        QStringList args;
        int exitCode;
        bool written;
    } cases[] = {
        {{"-o", "out.bit"}, 0, true},    {{"--output", "out.bit"}, 0, true},
        {{"--output=out.bit"}, 0, true}, {{"out.bit"}, 0, true},
        {{"--help"}, 0, false},          {{"-o"}, 2, false},
        {{"-x", "out.bit"}, 2, false},   {{"-o", "out.bit", "-o", "other.bit"}, 2, false},
        {{"out.bit", "many"}, 2, false}, {{}, 2, false},
    };
    for (const auto& c : cases) {
        const std::string what = c.args.join(' ').toStdString();
        QTemporaryDir dir;
        QProcess mk;
        mk.setWorkingDirectory(dir.path());
        mk.start(QString(ZBPU_BIN_DIR) + "/zbpu-mkserver", c.args);
        ASSERT_TRUE(mk.waitForFinished(10000)) << what;
        EXPECT_EQ(mk.exitCode(), c.exitCode) << what;
        QFile out(dir.filePath("out.bit"));
        EXPECT_EQ(out.exists(), c.written) << what;
        if (c.written && out.open(QIODevice::ReadOnly)) {
            EXPECT_TRUE(out.readAll() == serverBitFile()) << what;
        }
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), c.written ? 1 : 0) << what;
    }
}
