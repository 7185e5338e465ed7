// Generated, seeded requests around every limit of every shipped part: each is either refused
// with nothing sent, or leaves the flash changed exactly in the range asked.
#include "engine/OperationRequest.h"
#include "spi/SpiDeviceFile.h"
#include "support/SimHarness.h"

#include <QDir>
#include <QRandomGenerator>
#include <gtest/gtest.h>

namespace {

using Kind = OperationRequest::Kind;

struct Case {
    Kind kind;
    qint64 offset, count;
    bool hex;
    int burst;
};

// Offsets at, one below and one past every limit of a target (its start, its sectors, its end,
// the largest number), and counts that end at, one before and one past the end; the rest small
// so that thousands of cases run in seconds.
Case generate(QRandomGenerator& gen, const QList<Kind>& kinds, qint64 size, qint64 sector) {
    const auto pick = [&](std::initializer_list<qint64> values) {
        return *(values.begin() + gen.bounded(int(values.size())));
    };
    const qint64 k = gen.bounded(4);
    const qint64 near = sector > 0 ? sector * (1 + gen.bounded(3)) : 0x1000;
    Case c{kinds[gen.bounded(int(kinds.size()))], 0, 0, gen.bounded(3) == 0, 128};
    c.offset = pick({0, k, near - 1, near, near + 1, size - 1 - k, size - 1, size - 300 + k, size,
                     size + 1, 0xFFFFFFFF, 0x1000000, 0x1000000 - 1, 2 * size});
    const qint64 room = size - c.offset;
    c.count = room > 0 && room <= 600 ? pick({room - 1, room, room + 1, 1, 0})
                                      : pick({1, 2, qint64(gen.bounded(1, 300)), 0, room + 1});
    // Whole-chip reads of a large part are not what these cases are for.
    if (c.kind == Kind::SpiRead && c.count == 0 && room > 600)
        c.count = 1;
    if (c.kind == Kind::BpiProgram)
        c.burst = int(pick({128, 2, 256, 127, 0, 65538}));
    return c;
}

bool inRange(const Case& c, qint64 size) {
    const qint64 count = c.kind == Kind::SpiRead && c.count == 0 ? size - c.offset : c.count;
    return c.offset >= 0 && c.offset < size && count > 0 && c.offset + count <= size &&
           (c.kind != Kind::BpiProgram ||
            (c.burst >= 2 && c.burst <= 65536 && c.burst % 2 == 0 && c.offset % 2 == 0));
}

struct Runner {
    SimHarness& sim;
    QByteArray& memory;

    void run(const Case& c, const QString& device, qint64 size, qint64 sector, bool refuseAll,
             quint32 seed) {
        SCOPED_TRACE(testing::Message()
                     << device.toStdString() << ": kind " << int(c.kind) << " offset 0x" << std::hex
                     << c.offset << std::dec << " count " << c.count << (c.hex ? " hex" : " raw")
                     << " burst " << c.burst);
        const bool program =
            c.kind == Kind::SpiProgram || c.kind == Kind::BpiProgram || c.kind == Kind::SpiFlash;
        const qint64 count = c.kind == Kind::SpiRead && c.count == 0 ? size - c.offset : c.count;
        const bool small = count > 0 && count <= 4096;
        // A program reads back what it wrote: the operator erased its range first.
        if (small && (c.kind == Kind::SpiProgram || c.kind == Kind::BpiProgram) && inRange(c, size))
            memory.replace(c.offset, count, QByteArray(count, char(0xFF)));
        const QByteArray before = memory;
        const QByteArray data = small && program ? randomBytes(int(count), seed)
                                : small && c.offset >= 0 && c.offset < size
                                    ? before.mid(c.offset, count)
                                    : QByteArray(16, 'x');
        const bool read = c.kind == Kind::SpiRead || c.kind == Kind::BpiRead;
        const QString name = read ? "out.bin" : c.hex ? "image.hex" : "image.bin";
        QFile::remove(sim.path("out.bin"));
        if (!read)
            writeFile(sim.dir.path(), name, c.hex ? intelHex(data) : data);
        const qsizetype hostBytes = sim.board.hostBytes().size();
        sim.h->model.launches.launch(
            {c.kind, sim.path(name), device, c.offset, c.count, c.burst, {}});
        sim.h->runTimer();
        const Outcome& outcome = sim.h->model.session.outcome;
        if (refuseAll || !inRange(c, size)) {
            EXPECT_EQ(outcome.kind, Outcome::Kind::Refused) << outcome.message.toStdString();
            EXPECT_EQ(sim.board.hostBytes().size(), hostBytes);
            EXPECT_TRUE(memory == before);
            EXPECT_FALSE(QFile::exists(sim.path("out.bin")));
            return;
        }
        ASSERT_EQ(outcome.kind, Outcome::Kind::Succeeded) << outcome.message.toStdString();
        QByteArray expected = before;
        if (program) {
            expected.replace(c.offset, data.size(), data);
        } else if (c.kind == Kind::SpiSectorErase) {
            const qint64 from = c.offset / sector * sector;
            const qint64 to = std::min(size, (c.offset + count + sector - 1) / sector * sector);
            expected.replace(from, to - from, QByteArray(to - from, char(0xFF)));
        }
        EXPECT_TRUE(memory == expected);
        if (read) {
            EXPECT_TRUE(readFile(sim.path("out.bin")) == before.mid(c.offset, count));
        }
        // A wrong guess of the test leaves the next case a flash it did not expect.
        memory = before;
    }
};

} // namespace

TEST(RequestBoundary, EverySpiRequestIsRefusedOrExactOnEveryShippedPart) {
    QRandomGenerator gen(20261207);
    const QList<Kind> kinds = {Kind::SpiProgram, Kind::SpiRead, Kind::SpiVerify,
                               Kind::SpiSectorErase};
    const QStringList parts = QDir(ZBPU_BIN_DIR).entryList({"*.sfh"}, QDir::Files);
    ASSERT_GE(parts.size(), 11);
    int cases = 0;
    for (QString part : parts + QStringList{"BIG32.sfh"}) {
        part.chop(4);
        const bool big = part == "BIG32";
        // A 32 MiB part described with three address bytes: every address past 16 MiB would
        // wrap, so the description itself is refused, whatever is asked.
        SimHarness sim({.spiChip = big ? "W25Q128" : part});
        if (big)
            writeFile(sim.dir.path(), "BIG32.sfh",
                      readFile(sim.path("W25Q128.sfh"))
                          .replace("BPRD      000001000000", "BPRD      000002000000"));
        sim.startAndConnect();
        sim.h->ui.mnuSPI.click();
        SpiDescription d;
        loadSpiDeviceFile(sim.path(part + ".sfh"), d);
        QByteArray& memory = sim.board.spi().memory();
        memory = randomBytes(int(memory.size()), gen.generate());
        Runner runner{sim, memory};
        // The flash erases whole sectors: a few cases, on parts whose sectors are small.
        QList<Kind> these = kinds;
        if (d.SECS <= 4096)
            these << Kind::SpiFlash;
        for (int i = 0; i < 170; ++i, ++cases) {
            const Case c = generate(gen, these, d.BPRD, d.SECS);
            runner.run(c, part, d.BPRD, d.SECS, big, gen.generate());
            if (::testing::Test::HasFailure())
                return;
        }
    }
    EXPECT_GE(cases, 2000);
}

TEST(RequestBoundary, EveryParallelFlashRequestIsRefusedOrExact) {
    QRandomGenerator gen(20261208);
    SimHarness sim({.serverRunning = true});
    sim.startAndConnect();
    sim.h->ui.mnuBPI.click();
    ASSERT_TRUE(sim.h->model.session.BpiServerRunning);
    QByteArray& memory = sim.board.bpiFlash().memory();
    const qint64 size = memory.size();
    ASSERT_EQ(size, 16 * 1024 * 1024);
    memory = randomBytes(int(size), 5);
    Runner runner{sim, memory};
    for (int i = 0; i < 600; ++i) {
        const Case c = generate(gen, {Kind::BpiProgram, Kind::BpiRead, Kind::BpiVerify}, size, 0);
        runner.run(c, {}, size, 0, false, gen.generate());
        if (::testing::Test::HasFailure())
            return;
    }
}
