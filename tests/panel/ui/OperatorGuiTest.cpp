#include "support/SimHarness.h"

#include "app/FileDialogPicker.h"
#include "app/MessageBoxPrompter.h"
#include "app/QtAckTimer.h"
#include "panel/ui/MainWindowView.h"
#include "sim/BitstreamBuilder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLineEdit>
#include <QMainWindow>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

// The operator at the screen: answers each modal box by clicking its affirmative button,
// and a file dialog by typing the path and pressing Enter.
class Operator : public QObject {
public:
    QString file;
    QStringList seen;
    // Takes the boxes it answers true for, instead of the affirmative click.
    std::function<bool(QMessageBox*)> handle;

    Operator() {
        timer_.setInterval(0);
        connect(&timer_, &QTimer::timeout, this, [this] { look(); });
        timer_.start();
    }

private:
    void look() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << box->text();
            if (handle && handle(box))
                return;
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            QAbstractButton* ok = box->button(QMessageBox::Ok);
            QTest::mouseClick(yes ? yes : ok, Qt::LeftButton);
        } else if (auto* dialog = qobject_cast<QFileDialog*>(modal)) {
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            if (!name)
                return;
            name->clear();
            QTest::keyClicks(name, file);
            QTest::keyClick(name, Qt::Key_Return);
        }
    }
    QTimer timer_;
};

template <typename W> W* widget(QWidget* root, const char* name) {
    W* w = root->findChild<W*>(name);
    EXPECT_TRUE(w) << name;
    return w;
}

// The window on the in-process simulated board, with real message boxes that the operator
// answers: on a virtual clock ticked by hand, or in real time.
template <typename ClockType, typename TimerType, typename PickerType> struct Screen {
    explicit Screen(BoardConfig config = {})
        : board(config)
        , port(board, clock, 1)
        , model(port, clock, timer, prompter, picker, skinning,
                DataFolders{QStringList{dir.path()}})
        , view(model.ui, model.comm, model.debugPw) {
        QFile::copy(QString(ZBPU_BIN_DIR) + "/M25P16.sfh", dir.path() + "/M25P16.sfh");
        model.setProcessEvents([] { QCoreApplication::processEvents(); });
        model.startUp();
        w = view.window();
        w->show();
        w->activateWindow();
        QApplication::processEvents();
    }
    ~Screen() { model.unload(); }
    // What a test's steps name.
    struct Parts {
        Board& board;
        MainPanelModel& model;
        TimerType& timer;
        Operator& op;
        ClockType& clock;
        QMainWindow* w;
    };
    Parts parts() { return {board, model, timer, op, clock, w}; }

    QTemporaryDir dir;
    ClockType clock;
    Board board;
    BoardOnPort port;
    TimerType timer;
    MessageBoxPrompter prompter;
    PickerType picker;
    NoSkinning skinning;
    Operator op;
    MainPanelModel model;
    MainWindowView view;
    QMainWindow* w = nullptr;
};

} // namespace

TEST(OperatorGui, ProgramsTheSpiFlashWithClicksAndKeysOnly) {
    Screen<VirtualClock, ManualAckTimer, FileDialogPicker> screen;
    [[maybe_unused]] auto [board, model, timer, op, clock, w] = screen.parts();
    const QByteArray image = randomBytes(5000, 4);
    op.file = writeFile(screen.dir.path(), "image.bin", image);

    QTest::mouseClick(widget<QPushButton>(w, "btnConnect"), Qt::LeftButton);
    ASSERT_TRUE(widget<QPushButton>(w, "btnDisconnect")->isVisible());
    QTest::keyClick(w, Qt::Key_S, Qt::ControlModifier);
    ASSERT_EQ(model.session.opState.State(), 3) << "Ctrl+S chooses the SPI flash mode";
    auto* flash = widget<QComboBox>(w, "cbFlash");
    QTest::mouseClick(flash->lineEdit(), Qt::LeftButton);
    QTest::keyClicks(flash->lineEdit(), "M");
    ASSERT_EQ(model.ui.cbFlash.selectedItem(), "M25P16");
    QTest::mouseDClick(widget<QLineEdit>(w, "txtSpiFile"), Qt::LeftButton);
    ASSERT_EQ(model.ui.txtSpiFile.text(), "image.bin");
    EXPECT_EQ(widget<QLineEdit>(w, "txtPrgBytes")->text(), "5000");
    auto* offset = widget<QLineEdit>(w, "txtOffset");
    QTest::mouseClick(offset, Qt::LeftButton);
    QTest::keyClick(offset, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClicks(offset, "f0");
    EXPECT_EQ(model.ui.txtOffset.text(), "f0");

    QTest::mouseClick(widget<QPushButton>(w, "btnProgram_0"), Qt::LeftButton);
    // What the operation took at launch cannot be reached while it runs.
    const char* locked[] = {"txtOffset",      "txtPrgBytes",  "Command1",    "txtSendView",
                            "btnTransmitWnd", "btnSendBlock", "btnProgram_0"};
    // The clock runs only when the acknowledgement timer is ticked.
    for (int ticks = 0; timer.isActive() && ticks < 100000; ++ticks) {
        clock.advance(std::int64_t(timer.interval()) * 1000);
        timer.fire();
        QApplication::processEvents();
        if (ticks == 20) {
            for (const char* name : locked)
                EXPECT_FALSE(widget<QWidget>(w, name)->isEnabled()) << name;
            QTest::keyClicks(offset, "77");
            QTest::keyClick(w, Qt::Key_F, Qt::ControlModifier);
        }
    }
    EXPECT_EQ(model.ui.txtOffset.text(), "f0");
    EXPECT_EQ(model.session.opState.State(), 3) << "Ctrl+F switched the mode mid-run";
    for (const char* name : locked)
        EXPECT_TRUE(widget<QWidget>(w, name)->isEnabled()) << name;
    EXPECT_EQ(board.spi().memory().mid(0xF0, image.size()), image);
    EXPECT_TRUE(
        model.ui.txtRecvView.text().endsWith("SPI programming successful: 0xF0 to 0x1477 \r\n"));
    EXPECT_TRUE(op.seen.contains("The program writes 0xF0 to 0x1477.\nIt is your responsibility "
                                 "to ensure the sectors you are about "
                                 "to program have been erased.  Is this true?"));
    EXPECT_FALSE(model.ui.txtRecvView.text().contains("Timed out"));

    // The one-step flash and Detect, through their own widgets.
    const auto run = [&] {
        for (int ticks = 0; timer.isActive() && ticks < 400000; ++ticks) {
            clock.advance(std::int64_t(timer.interval()) * 1000);
            timer.fire();
            QApplication::processEvents();
        }
    };
    board.spi().memory().replace(0, 0xF0, QByteArray(0xF0, 'k'));
    QTest::mouseClick(widget<QCheckBox>(w, "chkFlashSteps"), Qt::LeftButton);
    ASSERT_TRUE(model.ui.chkFlashSteps.checked());
    QTest::mouseClick(widget<QPushButton>(w, "btnProgram_0"), Qt::LeftButton);
    run();
    EXPECT_TRUE(model.ui.txtRecvView.text().endsWith(
        "SPI flash programmed and validated: 0x0 to 0xFFFF \r\n"));
    EXPECT_EQ(board.spi().memory().left(0xF0), QByteArray(0xF0, 'k'));
    EXPECT_EQ(board.spi().memory().mid(0xF0, image.size()), image);
    QTest::mouseClick(widget<QPushButton>(w, "btnDetect"), Qt::LeftButton);
    run();
    EXPECT_TRUE(model.ui.txtRecvView.text().endsWith("Detected M25P16 (20 20 15) \r\n"));
}

// The write goes on behind the question Esc asks: No leaves it to finish, Yes stops it.
TEST(OperatorGui, EscAsksBeforeItStopsAWriteThatGoesOnBehindTheQuestion) {
    Screen<VirtualClock, ManualAckTimer, ScriptedPicker> screen;
    [[maybe_unused]] auto [board, model, timer, op, clock, w] = screen.parts();
    const QByteArray image = randomBytes(3000, 6);
    screen.picker.paths << writeFile(screen.dir.path(), "image.bin", image);
    model.ui.btnConnect.click();
    model.ui.mnuSPI.click();
    model.ui.cbFlash.setSelectedIndex(0);
    model.ui.mnuOpenFile.click();
    const auto tick = [&] {
        clock.advance(std::int64_t(timer.interval()) * 1000);
        timer.fire();
    };
    for (const auto answer : {QMessageBox::No, QMessageBox::Yes}) {
        QTest::mouseClick(widget<QPushButton>(w, "btnProgram_0"), Qt::LeftButton);
        for (int ticks = 0; ticks < 20; ++ticks)
            tick();
        int sentBehind = 0;
        op.handle = [&](QMessageBox* box) {
            if (!box->text().startsWith("Stop the"))
                return false;
            const qsizetype before = board.hostBytes().size();
            for (int ticks = 0; ticks < 30; ++ticks)
                tick();
            sentBehind = int(board.hostBytes().size() - before);
            QTest::mouseClick(box->button(answer), Qt::LeftButton);
            return true;
        };
        w->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(w));
        QTest::keyClick(w->windowHandle(), Qt::Key_Escape);
        op.handle = {};
        EXPECT_GT(sentBehind, 0) << "the write paused behind the question";
        EXPECT_EQ(op.seen.last(),
                  "Stop the SPI Program? The flash will be left partly programmed.");
        for (int ticks = 0; timer.isActive() && ticks < 100000; ++ticks)
            tick();
        EXPECT_EQ(model.session.outcome.kind,
                  answer == QMessageBox::Yes ? Outcome::Kind::Abandoned : Outcome::Kind::Succeeded);
        board.spi().memory().replace(0, image.size(), QByteArray(image.size(), char(0xFF)));
    }
    EXPECT_NE(board.spi().memory().left(3000), image);
}

// In real time at 115200 baud: the window answers a Stop in the middle of the download at
// once, no bitstream byte follows it (only filler to finish the transfer), and the FPGA is
// cleared of the design cut short.
TEST(OperatorGui, StopDuringAnFpgaDownloadIsAnsweredAtOnceAndSendsNoMoreBitstream) {
    Screen<SystemClock, QtAckTimer, ScriptedPicker> screen(BoardConfig{.baud = 115200});
    [[maybe_unused]] auto [board, model, timer, op, clock, w] = screen.parts();
    screen.picker.paths << writeFile(screen.dir.path(), "design.bit",
                                     buildBitFile(buildConfigPayload({.size = 40000})));
    model.ui.btnConnect.click();
    model.ui.mnuOpenFile.click();

    QElapsedTimer elapsed;
    elapsed.start();
    qint64 clickedMs = -1, answeredMs = -1;
    qsizetype sentAtClick = -1;
    model.ui.lblStatus.watch([&] {
        if (answeredMs < 0 && model.ui.lblStatus.text().startsWith("Stopping"))
            answeredMs = elapsed.elapsed();
    });
    QTimer stop;
    stop.setSingleShot(true);
    QObject::connect(&stop, &QTimer::timeout, [&] {
        clickedMs = elapsed.elapsed();
        sentAtClick = board.hostBytes().size();
        QTest::mouseClick(widget<QPushButton>(w, "btnStop"), Qt::LeftButton);
    });
    model.ui.lblProgress.watch([&] {
        if (model.ui.lblProgress.text() == "FPGA Download Progress" && !stop.isActive() &&
            clickedMs < 0)
            stop.start(800);
    });
    QTest::mouseClick(widget<QPushButton>(w, "btnCfgFPGA"), Qt::LeftButton);
    for (int i = 0; i < 3000 && (model.session.busy() || clickedMs < 0); ++i)
        QTest::qWait(10);
    ASSERT_GE(clickedMs, 0) << "the download ended before Stop";
    ASSERT_GE(answeredMs, 0);
    EXPECT_LT(answeredMs - clickedMs, 500);
    const QByteArray after = board.hostBytes().mid(sentAtClick);
    const QByteArray filler = after.left(after.indexOf('\0'));
    EXPECT_GT(filler.size(), 0);
    EXPECT_EQ(filler.count(char(0xFF)), filler.size()) << "bitstream after the stop";
    EXPECT_FALSE(board.fpga().done());
    EXPECT_TRUE(
        model.ui.txtRecvView.text().contains("The FPGA was cleared (PROG): it holds no design.\r\n"
                                             "Operation abandoned: stopped by the operator.\r\n"));
}
