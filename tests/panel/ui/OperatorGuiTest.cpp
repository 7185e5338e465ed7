#include "support/SimHarness.h"

#include "app/FileDialogPicker.h"
#include "app/MessageBoxPrompter.h"
#include "panel/ui/MainWindowView.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
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

// The window on the in-process simulated board, with real message boxes and file dialogs that
// the operator answers, on a virtual clock ticked by hand.
struct Screen {
    Screen()
        : port(board, clock, 1)
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

    QTemporaryDir dir;
    VirtualClock clock;
    Board board;
    BoardOnPort port;
    ManualAckTimer timer;
    MessageBoxPrompter prompter;
    FileDialogPicker picker;
    NoSkinning skinning;
    Operator op;
    MainPanelModel model;
    MainWindowView view;
    QMainWindow* w = nullptr;
};

} // namespace

TEST(OperatorGui, ProgramsTheSpiFlashWithClicksAndKeysOnly) {
    Screen screen;
    auto [board, model, timer, op, clock, w] =
        std::tie(screen.board, screen.model, screen.timer, screen.op, screen.clock, screen.w);
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

    // The clock runs only when the acknowledgement timer is ticked; the operator may act once.
    const auto run = [&](const std::function<void()>& meanwhile = {}) {
        for (int ticks = 0; timer.isActive() && ticks < 400000; ++ticks) {
            clock.advance(std::int64_t(timer.interval()) * 1000);
            timer.fire();
            QApplication::processEvents();
            if (ticks == 20 && meanwhile)
                meanwhile();
        }
    };
    QTest::mouseClick(widget<QPushButton>(w, "btnProgram_0"), Qt::LeftButton);
    // What the operation took at launch cannot be reached while it runs.
    const char* locked[] = {"txtOffset",      "txtPrgBytes",  "Command1",    "txtSendView",
                            "btnTransmitWnd", "btnSendBlock", "btnProgram_0"};
    run([&] {
        for (const char* name : locked)
            EXPECT_FALSE(widget<QWidget>(w, name)->isEnabled()) << name;
        QTest::keyClicks(offset, "77");
        QTest::keyClick(w, Qt::Key_F, Qt::ControlModifier);
    });
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
