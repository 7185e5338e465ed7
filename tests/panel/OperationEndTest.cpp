#include "support/SimTest.h"

#include <QCoreApplication>

// How an operation asks, tells the operator what it is doing and how it ended.

struct OperationEnd : SimTest {
    OperationEnd() { timeScale = 0.001; }
};

TEST_F(OperationEnd, TheStatusLineSaysTheOutcomeAndTheTimeTaken) {
    using K = Outcome::Kind;
    EXPECT_EQ(statusLine("SPI Program", {K::Succeeded, ""}, 12'440'000),
              "SPI Program: successful in 12.4 s");
    EXPECT_EQ(statusLine("BPI Verify", {K::Failed, "Verify failed at 0x10\r\nsecond line"}, 0),
              "BPI Verify: failed after 0.0 s (Verify failed at 0x10)");
    EXPECT_EQ(statusLine("SPI ID Check", {K::Refused, "ID mismatch"}, 200'000),
              "SPI ID Check: refused after 0.2 s (ID mismatch)");
    EXPECT_EQ(statusLine("BPI Read", {K::Abandoned, "The operation was abandoned."}, 1'500'000),
              "BPI Read: abandoned after 1.5 s");
    EXPECT_EQ(statusLine("", {K::Succeeded, ""}, 60'000'000), "Operation: successful in 60.0 s");
}

// The caption shown with the progress bar from its first appearance names the operation (a
// front end may show only the first it sees); at the end the status line names it too.
TEST_F(OperationEnd, EachOperationIsNamedByItsProgressCaptionAndItsStatusLine) {
    const struct {
        bool bpi;
        const char* button;
        QString caption, status;
    } cases[] = {
        {false, "btnVerify_0", "SPI Validation", "SPI Verify: successful in "},
        {false, "btnBulkErase_0", "Bulk Erase Poll", "SPI Bulk Erase: successful in "},
        {false, "btnRead_0", "Read Progress", "SPI Read: successful in "},
        {true, "btnProgram_1", "BPI Programming Progress", "BPI Program: successful in "},
        {true, "btnVerify_1", "BPI Verify Progress", "BPI Verify: successful in "},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.button);
        board(c.bpi ? Mode::Bpi : Mode::Spi);
        sim->choose("image.bin", randomBytes(300, 7));
        // Verify compares with what Program put there.
        if (c.bpi || QString(c.button) == "btnVerify_0")
            sim->press(program(c.bpi ? Mode::Bpi : Mode::Spi));
        QStringList firstSeen;
        ui().hscProgress.watch([&] {
            if (ui().hscProgress.visible() && firstSeen.isEmpty())
                firstSeen << ui().lblProgress.text();
        });
        const std::int64_t start = sim->clock.nowUs();
        sim->press(sim->control(c.button));
        EXPECT_EQ(firstSeen, QStringList{c.caption});
        // The time is the clock's from launch to end.
        const double seconds = double(sim->clock.nowUs() - start) / 1e6;
        EXPECT_EQ(ui().lblStatus.text(), c.status + QString("%1 s").arg(seconds, 0, 'f', 1));
    }
}

// The status line times the operation, not the operator reading its failure.
TEST_F(OperationEnd, TheStatusLineSaysRunningAndTimesTheOutcomeNotTheBox) {
    board(Mode::Spi);
    sim->choose("image.bin", randomBytes(3000, 1));
    QStringList seen;
    ui().lblStatus.watch([&] { seen << ui().lblStatus.text(); });
    sim->setReadingTime(30000);
    sim->press(ui().btnVerify[0]);
    ASSERT_EQ(seen.size(), 2);
    EXPECT_EQ(seen[0], "SPI Verify: running");
    EXPECT_TRUE(seen[1].startsWith("SPI Verify: failed after ")) << seen[1].toStdString();
    EXPECT_LT(seen[1].section(" after ", 1).section(' ', 0, 0).toDouble(), 30.0);
}

// A read asks before it writes over a file, and only then, in both flash modes.
TEST_F(OperationEnd, AReadAsksOnlyBeforeItWritesOverAFile) {
    for (const bool bpi : {false, true})
        for (const bool exists : {false, true}) {
            SCOPED_TRACE(testing::Message() << "parallel " << bpi << ", existing " << exists);
            const auto answer = exists && !bpi ? Prompter::Answer::Cancel : Prompter::Answer::Ok;
            board(bpi ? Mode::Bpi : Mode::Spi);
            sim->h->model.setProcessEvents([] { QCoreApplication::processEvents(); });
            const QString out = sim->path("out.bin");
            if (exists)
                sim->choose("out.bin", "old");
            else
                sim->h->picker.paths << out, ui().mnuOpenFile.click();
            ui().txtPrgBytes.setText("100");
            prompter().shown.clear();
            prompter().answers << answer;
            sim->press(ui().btnRead[bpi]);
            EXPECT_EQ(prompter().boxes(), exists
                                              ? QStringList{"Warning: out.bin will be overwritten!"}
                                              : QStringList());
            EXPECT_EQ(readFile(out),
                      answer == Prompter::Answer::Ok ? QByteArray(100, char(0xFF)) : "old");
        }
}

// Esc stops a read at once; before it stops a write it asks, and the write goes on while the
// question is open. A No, or a Yes once the write has ended, leaves it to finish.
TEST_F(OperationEnd, EscAsksBeforeItStopsAWriteWhichGoesOnWhileAsked) {
    using A = Prompter::Answer;
    const QString program = "Warning: Stop the SPI Program? The flash will be left partly "
                            "programmed.";
    const struct {
        const char* button;
        A answer;
        int ticksAsked; // the event loop's ticks while the question is open; -1: to the end
        QString question;
        bool stopped;
    } cases[] = {
        {"btnProgram_0", A::Yes, 30, program, true},
        {"btnProgram_0", A::No, 30, program, false},
        {"btnProgram_0", A::Yes, -1, program, false},
        {"btnBulkErase_0", A::No, 30,
         "Warning: Stop the SPI Bulk Erase? The flash will be left partly erased.", false},
        {"btnRead_0", A::No, 0, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.button << " " << int(c.answer) << " " << c.ticksAsked);
        timeScale = 1.0;
        board(Mode::Spi);
        sim->h->model.setProcessEvents([] { QCoreApplication::processEvents(); });
        const QByteArray image = randomBytes(3000, 5);
        sim->choose("image.bin", image);
        sim->control(c.button).click();
        for (int tick = 0; tick < 20; ++tick)
            sim->clock.advance(15000), sim->h->timer.fire();
        sim->h->prompter.shown.clear();
        int sentWhileAsked = -1;
        sim->h->prompter.onShow = [&] {
            const int mark = sim->mark();
            sim->h->runTimer(c.ticksAsked < 0 ? 2000000 : c.ticksAsked);
            sentWhileAsked = sim->mark() - mark;
        };
        sim->h->prompter.answers << c.answer;
        ui().MainPanel.keyPress(27);
        sim->h->prompter.onShow = {};
        sim->h->runTimer();
        EXPECT_EQ(sim->h->prompter.boxes().join('|'), c.question);
        EXPECT_TRUE(c.question.isEmpty() || sentWhileAsked > 0) << "the write paused";
        EXPECT_EQ(sim->h->model.session.outcome.kind,
                  c.stopped ? Outcome::Kind::Abandoned : Outcome::Kind::Succeeded);
        if (QString(c.button) == "btnProgram_0") {
            EXPECT_EQ(sim->board.spi().memory().left(3000) == image, !c.stopped);
        }
    }
}
