#include "support/SimHarness.h"

#include "app/FileDialogPicker.h"
#include "app/MessageBoxPrompter.h"
#include "app/SingleInstance.h"
#include "panel/ui/MainWindowView.h"

#include <QTest>
#include <QtWidgets>
#include <gtest/gtest.h>

namespace {

template <typename W> W* widget(QWidget* root, const char* name) {
    W* w = root->findChild<W*>(name);
    EXPECT_TRUE(w) << name;
    return w;
}

// The window on the in-process simulated board, with real message boxes and file dialogs, on a
// virtual clock ticked by hand. The operator answers each modal box by clicking its affirmative
// button, and a file dialog by typing the path and pressing Enter.
struct OperatorGui : ::testing::Test {
    OperatorGui()
        : port(board, clock, 1)
        , model(port, clock, timer, prompter, picker, skinning,
                DataFolders{QStringList{dir.path()}})
        , view(model.ui, model.comm, model.debugPw) {
        QFile::copy(QString(ZBPU_BIN_DIR) + "/M25P16.sfh", dir.path() + "/M25P16.sfh");
        model.setProcessEvents([] { QCoreApplication::processEvents(); });
        op.callOnTimeout([this] { answer(); });
        op.start(0);
        model.startUp();
        w = view.window();
        w->show();
        w->activateWindow();
        QApplication::processEvents();
    }
    ~OperatorGui() { model.unload(); }
    void answer() {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            seen << box->text();
            QAbstractButton* yes = box->button(QMessageBox::Yes);
            QTest::mouseClick(yes ? yes : box->button(QMessageBox::Ok), Qt::LeftButton);
        } else if (auto* name = modal ? modal->findChild<QLineEdit*>("fileNameEdit") : nullptr) {
            name->clear();
            QTest::keyClicks(name, file);
            QTest::keyClick(name, Qt::Key_Return);
        }
    }

    QTemporaryDir dir;
    VirtualClock clock;
    Board board;
    BoardOnPort port;
    ManualAckTimer timer;
    MessageBoxPrompter prompter;
    FileDialogPicker picker;
    NoSkinning skinning;
    MainPanelModel model;
    MainWindowView view;
    QMainWindow* w = nullptr;
    QString file; // what the operator types into a file dialog
    QStringList seen;
    QTimer op;
};

} // namespace

TEST_F(OperatorGui, ProgramsTheSpiFlashWithClicksAndKeysOnly) {
    const QByteArray image = randomBytes(5000, 4);
    file = writeFile(dir.path(), "image.bin", image);

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
    // What the operation took at launch cannot be reached while it runs. The clock runs only
    // when the acknowledgement timer is ticked; the operator acts once meanwhile.
    const char* locked[] = {"txtOffset",      "txtPrgBytes",  "Command1",    "txtSendView",
                            "btnTransmitWnd", "btnSendBlock", "btnProgram_0"};
    for (int ticks = 0; timer.isActive() && ticks < 400000; ++ticks) {
        clock.advance(std::int64_t(timer.interval()) * 1000);
        timer.fire();
        QApplication::processEvents();
        if (ticks != 20)
            continue;
        for (const char* name : locked)
            EXPECT_FALSE(widget<QWidget>(w, name)->isEnabled()) << name;
        QTest::keyClicks(offset, "77");
        QTest::keyClick(w, Qt::Key_F, Qt::ControlModifier);
    }
    EXPECT_EQ(model.ui.txtOffset.text(), "f0");
    EXPECT_EQ(model.session.opState.State(), 3) << "Ctrl+F switched the mode mid-run";
    for (const char* name : locked)
        EXPECT_TRUE(widget<QWidget>(w, name)->isEnabled()) << name;
    EXPECT_EQ(board.spi().memory().mid(0xF0, image.size()), image);
    EXPECT_TRUE(
        model.ui.txtRecvView.text().endsWith("SPI programming successful: 0xF0 to 0x1477 \r\n"));
    EXPECT_TRUE(seen.contains("The program writes 0xF0 to 0x1477.\nIt is your responsibility "
                              "to ensure the sectors you are about "
                              "to program have been erased.  Is this true?"));
    EXPECT_FALSE(model.ui.txtRecvView.text().contains("Timed out"));
}

// The program's filters become Qt's; a file that is not there yet may be chosen for a read.
TEST(FileDialogPicker, TakesTheProgramsFiltersAndOpensInTheGivenFolder) {
    const struct {
        const char *what, *filter, *qt;
    } cases[] = {
        {"a bit file filter with a blank before its pattern", "Bit Files (*.bit)| *.bit",
         "Bit Files (*.bit)"},
        {"flash filters: several patterns, trailing blank, empty pairs at the end",
         "Bitstreams (*.bit,*.bin)| *.bit;*.bin|Software (*.elf,*.srec,*.bin) "
         "|*.elf;*.srec;*.bin|All Files (*.*)|*.*||",
         "Bitstreams (*.bit *.bin);;Software (*.elf *.srec *.bin);;All Files (*)"},
        {"a description without its own patterns", "Images|*.png", "Images (*.png)"},
        {"no filter at all", "", ""},
        {"a description with no pattern after it", "Bit Files (*.bit)", ""},
    };
    for (const auto& t : cases)
        EXPECT_EQ(toQtFilter(t.filter).toStdString(), t.qt) << t.what;
    QTemporaryDir dir;
    FileDialogPicker picker;
    QString shownIn;
    picker.onShown = [&](QFileDialog& d) {
        shownIn = d.directory().absolutePath();
        d.selectFile(dir.filePath("new.bin"));
        static_cast<QDialog&>(d).accept(); // QFileDialog checks the name, as for the operator
    };
    const QString chosen =
        picker.choose({"Select SPI File", "All Files (*.*)|*.*||", dir.path(), true});
    EXPECT_EQ(shownIn, QDir(dir.path()).absolutePath());
    EXPECT_EQ(chosen, QDir(dir.path()).absoluteFilePath("new.bin"));
    EXPECT_FALSE(QFile::exists(chosen));
}

TEST(MessageBoxPrompter, TheBoxShowsWhatItIsGivenAndTheButtonPressedIsTheAnswer) {
    using P = Prompter;
    using B = QMessageBox;
    using enum P::Icon;
    const auto Ok = P::Buttons::Ok, OkCancel = P::Buttons::OkCancel, YesNo = P::Buttons::YesNo;
    const struct {
        const char *what, *title;
        P::Icon icon;
        P::Buttons buttons;
        B::StandardButton press; // NoButton: Escape
        P::Answer answer;
        B::Icon shownIcon;
    } cases[] = {
        {"OK", "Application Error", Critical, Ok, B::Ok, P::Answer::Ok, B::Critical},
        {"no title: the program's", "", Exclamation, Ok, B::Ok, P::Answer::Ok, B::Warning},
        {"Cancel of two", "W", Question, OkCancel, B::Cancel, P::Answer::Cancel, B::Question},
        {"Yes", "W", Information, YesNo, B::Yes, P::Answer::Yes, B::Information},
        {"No", "W", Question, YesNo, B::No, P::Answer::No, B::Question},
        {"Escape on Yes and No", "W", Question, YesNo, B::NoButton, P::Answer::No, B::Question},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        QStringList seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            seen << box->windowTitle() << box->text() << QString::number(box->icon())
                 << QString::number(box->buttons().size());
            t.press ? box->button(t.press)->click() : QTest::keyClick(box, Qt::Key_Escape);
        });
        MessageBoxPrompter prompter;
        EXPECT_EQ(prompter.ask("Error: 53\r\nFile not found\n\r", t.title, t.icon, t.buttons),
                  t.answer);
        EXPECT_EQ(seen, QStringList({*t.title ? QString(t.title) : AppTitle,
                                     "Error: 53\nFile not found\n", QString::number(t.shownIcon),
                                     t.buttons == P::Buttons::Ok ? "1" : "2"}));
    }
}

TEST(SingleInstance, ASecondInstanceIsRefusedAndTheFirstIsAskedToComeForward) {
    const QString key = "zbpu-test-" + QString::number(QRandomGenerator::global()->generate64());
    SingleInstance first(key);
    ASSERT_TRUE(first.tryLock());
    QEventLoop loop;
    int raised = 0;
    first.onRaise = [&] { ++raised, loop.quit(); };
    SingleInstance second(key);
    EXPECT_FALSE(second.tryLock());
    EXPECT_TRUE(second.raiseRunning());
    QTimer::singleShot(5000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(raised, 1);
}
