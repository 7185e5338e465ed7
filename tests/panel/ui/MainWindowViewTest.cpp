#include "support/SimHarness.h"

#include "app/FileDialogPicker.h"
#include "app/MessageBoxPrompter.h"
#include "app/SingleInstance.h"
#include "app/StyleSheetSkinning.h"
#include "panel/ui/MainWindowView.h"
#include "panel/ui/WidgetBinding.h"

#include <QTest>
#include <QtWidgets>
#include <gtest/gtest.h>

namespace {

void settle(QWidget* window) {
    window->show();
    QApplication::processEvents();
}

struct Forms {
    MainPanelControls main;
    CommPropertiesControls comm;
    DebugPWControls debug;
    MainWindowView view{main, comm, debug};
    QMainWindow* shown() { return settle(view.window()), view.window(); }
};

// Push buttons ask for a minimum width beyond their caption, so their caption is measured
// against the padding and border the skins give them.
bool captionFits(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w); label && label->pixmap().isNull())
        return label->sizeHint().width() <= label->width();
    if (auto* button = qobject_cast<QPushButton*>(w))
        return button->fontMetrics().size(0, button->text()).width() + 14 <= button->width() &&
               button->fontMetrics().size(0, button->text()).height() <= button->height();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->sizeHint().width() <= button->width();
    if (auto* box = qobject_cast<QGroupBox*>(w))
        return box->fontMetrics().horizontalAdvance(box->title()) + 16 <= box->width();
    return true;
}

// The named widgets shown in the panel and where they lie in it; the areas that hold them
// and the group boxes' contents are not counted, the group boxes stand for those.
QList<std::pair<QWidget*, QRect>> controlsShownIn(QWidget* panel) {
    const QStringList areas = {"topArea", "debugArea"};
    QList<std::pair<QWidget*, QRect>> out;
    for (QWidget* w : panel->findChildren<QWidget*>()) {
        QWidget* parent = w->parentWidget();
        const bool inArea = parent == panel || areas.contains(parent->objectName());
        if (inArea && !areas.contains(w->objectName()) && w->isVisibleTo(panel) &&
            !w->objectName().isEmpty() && !w->objectName().startsWith("qt_"))
            out.append({w, QRect(w->mapTo(panel, QPoint(0, 0)), w->size())});
    }
    return out;
}

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
    QTimer op;
};

void typeKey(QObject* w, int key, const QString& text) {
    for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
        QKeyEvent event(type, key, Qt::NoModifier, text);
        QApplication::sendEvent(w, &event);
    }
}

// A widget of kind W named like the control; actions are checkable, lists may be editable.
template <class W, bool editable = false> QObject* make(QWidget* root) {
    auto* w = new W(root);
    w->setObjectName("c");
    if constexpr (std::is_same_v<W, QAction>)
        w->setCheckable(true);
    if constexpr (std::is_same_v<W, QComboBox>)
        w->setEditable(editable);
    return w;
}

// What the operator sees of a widget.
QString shown(QObject* o) {
    auto* w = qobject_cast<QWidget*>(o);
    auto* bar = qobject_cast<QProgressBar*>(o);
    QStringList s{w && !w->isEnabled() ? "disabled" : "",
                  (w ? w->isHidden() : !o->property("visible").toBool()) ? "hidden" : "",
                  bar ? QString("%1/%2").arg(bar->value()).arg(bar->maximum())
                      : o->property("text").toString(),
                  o->property("plainText").toString(),
                  o->property("checked").toBool() ? "checked" : ""};
    if (auto* c = qobject_cast<QComboBox*>(o))
        s << QString("%1 of %2:").arg(c->currentIndex()).arg(c->count())
          << (c->currentIndex() < 0 && !c->isEditable() ? c->placeholderText() : c->currentText());
    s.removeAll("");
    return s.join(' ');
}

} // namespace

TEST(MainWindowView, EveryControlHasAWidgetAndAHiddenDialogEndsItsModalRun) {
    Forms f;
    const std::pair<QWidget*, std::vector<Control*>> forms[] = {
        {f.view.window(), f.main.all()},
        {f.view.dialogOf(f.comm.CommPropertiesPanel), f.comm.all()},
        {f.view.dialogOf(f.debug.DebugPW), f.debug.all()},
    };
    for (const auto& [root, controls] : forms) {
        ASSERT_TRUE(root);
        for (Control* c : controls) {
            QObject* o = root->findChild<QObject*>(c->name());
            EXPECT_TRUE(c->name() == root->objectName() ||
                        (o && (o->isWidgetType() || o->inherits("QAction"))))
                << c->name().toStdString();
        }
    }
    QDialog* dialog = f.view.dialogOf(f.comm.CommPropertiesPanel);
    f.comm.btnOK.onClick = [&] { f.comm.CommPropertiesPanel.setVisible(false); };
    bool shownDuringRun = false;
    QTimer::singleShot(0, dialog, [&] {
        shownDuringRun = dialog->isVisible() && f.comm.CommPropertiesPanel.visible();
        dialog->findChild<QPushButton*>("btnOK")->click();
    });
    f.view.showModal(f.comm.CommPropertiesPanel);
    EXPECT_TRUE(shownDuringRun);
    EXPECT_FALSE(dialog->isVisible());
}

// A disabled entry is drawn otherwise even under the pointer; a skin starts only from a sheet.
TEST(MainWindowView, NoControlsOverlapNoCaptionIsClippedAndDisabledMenusLookDisabledInEverySkin) {
    QTemporaryDir dir;
    StyleSheetSkinning none;
    EXPECT_FALSE(none.skinStart(dir.filePath("missing.urf"), 2));
    EXPECT_FALSE(none.skinStart(writeFile(dir.path(), "empty.urf", " \n"), 2));
    for (const QString skin : {"plain", "belv", "gtclassicex"}) {
        SCOPED_TRACE(skin.toStdString());
        const QString sheet = ZBPU_SOURCE_DIR "/skins/" + skin + ".urf";
        StyleSheetSkinning skinning;
        ASSERT_TRUE(skin == "plain" || skinning.skinStart(sheet, 2));
        EXPECT_EQ(qApp->styleSheet(), skin == "plain" ? "" : QString(readFile(sheet)));
        for (bool connected : {false, true}) {
            SimHarness sim;
            if (connected)
                sim.startAndConnect();
            MainPanelControls& ui = sim.h->ui;
            MainWindowView view(ui, sim.h->model.comm, sim.h->model.debugPw);
            for (Control* mode : {&ui.mnuFPGA, &ui.mnuSPI, &ui.mnuBPI}) {
                SCOPED_TRACE((mode->name() + (connected ? " connected" : "")).toStdString());
                mode->click();
                // The longest captions: a pseudo-terminal is named by its path.
                ui.btnConnect.setText("Connect to /dev/pts/12");
                ui.btnDisconnect.setText("Disconnect from /dev/pts/12");
                ui.lblProgress.setText("BPI Programming Progress 100% done");
                ui.lblProgress.setVisible(true);
                ui.hscProgress.setVisible(true);
                settle(view.window());
                QWidget* panel = view.window()->centralWidget();
                const auto shown = controlsShownIn(panel);
                for (int i = 0; i < shown.size(); ++i)
                    for (int j = i + 1; j < shown.size(); ++j)
                        EXPECT_FALSE(shown[i].second.intersects(shown[j].second))
                            << shown[i].first->objectName().toStdString() << " overlaps "
                            << shown[j].first->objectName().toStdString();
                for (QWidget* w : panel->findChildren<QWidget*>())
                    EXPECT_TRUE(!w->isVisibleTo(panel) || captionFits(w))
                        << w->objectName().toStdString();
            }
            for (Control* form :
                 {&sim.h->model.comm.CommPropertiesPanel, &sim.h->model.debugPw.DebugPW}) {
                QDialog* d = view.dialogOf(*form);
                settle(d);
                for (QWidget* w : d->findChildren<QWidget*>())
                    EXPECT_TRUE(captionFits(w)) << w->objectName().toStdString();
                d->hide();
            }
        }
        Forms f;
        QMainWindow* window = f.shown();
        QMenuBar* bar = window->menuBar();
        auto* options = window->findChild<QMenu*>("mnuOptions");
        auto* comm = window->findChild<QAction*>("mnuComm");
        const auto title = [&](bool enabled) {
            f.main.mnuOptions.setEnabled(enabled);
            QApplication::processEvents();
            return bar->grab(bar->actionGeometry(options->menuAction())).toImage();
        };
        EXPECT_NE(title(true), title(false));
        options->popup(window->mapToGlobal(QPoint(0, 0)));
        const auto entry = [&](bool enabled, bool underPointer) {
            f.main.mnuComm.setEnabled(enabled);
            options->setActiveAction(underPointer ? comm : nullptr);
            QApplication::processEvents();
            return options->grab(options->actionGeometry(comm)).toImage();
        };
        EXPECT_NE(entry(true, false), entry(false, false));
        EXPECT_NE(entry(true, true), entry(false, true));
        options->hide();
        skinning.skinRemove();
    }
}

// The top keeps its size and a larger window uncovers nothing. A 1280x800 screen at 1.5x scale
// is 853x533 logical pixels, a title bar and a desktop panel take some 60: the window fits at
// its usual size, and with the debug fields at least at its smallest. Tab is no character for
// the board.
TEST(MainWindowView, TheConsolesTakeTheRoomFollowNewTextAndLeaveOnTabOnlyTheCodeShowsDebug) {
    const QSize room(1280 * 2 / 3 - 16, 800 * 2 / 3 - 60);
    Forms f;
    QList<int> keys;
    f.main.MainPanel.onKeyPress = [&](int code) { keys << code; };
    f.main.txtSendView.onKeyPress = [&](int code) { keys << code; };
    f.main.txtSendView.setEnabled(true);
    QMainWindow* window = f.shown();
    EXPECT_EQ(window->size().boundedTo(room), window->size());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window->windowHandle(), Qt::Key_Escape);
    EXPECT_EQ(keys, QList<int>{27});
    for (const char* name : {"txtSendView", "txtRecvView"}) {
        auto* console = window->findChild<QPlainTextEdit*>(name);
        console->setFocus();
        ASSERT_EQ(QApplication::focusWidget(), console);
        QTest::keyClick(console, Qt::Key_Tab);
        EXPECT_NE(QApplication::focusWidget(), console) << name;
    }
    EXPECT_EQ(keys, QList<int>{27});
    EXPECT_EQ(f.main.txtSendView.text(), "");
    auto* recv = window->findChild<QPlainTextEdit*>("txtRecvView");
    // The receive console shows the newest text unless the operator has scrolled away from it,
    // and breaks a long line between words, also when the word arrives in pieces.
    Control& console = f.main.txtRecvView;
    const struct {
        QString text;
        int piece;
        QList<qsizetype> lines;
    } cases[] = {{QString("abcdef ").repeated(40), 5, {91, 91, 91, 7}},
                 {QString(200, 'x') + " tail", 3, {96, 96, 13}}};
    for (const auto& c : cases) {
        console.setText("");
        for (qsizetype at = 0; at < c.text.size(); at += c.piece) {
            console.appendText(c.text.mid(at, c.piece));
            QApplication::processEvents();
        }
        const QStringList lines = recv->toPlainText().split('\n');
        QList<qsizetype> lengths;
        for (const QString& line : lines)
            lengths << line.size();
        EXPECT_EQ(lengths, c.lines) << c.piece;
        EXPECT_EQ(lines.join(""), c.text);
    }
    QScrollBar* bar = recv->verticalScrollBar();
    const auto arrive = [&](int lines) {
        for (int i = 0; i < lines; ++i)
            console.appendText(QString("line %1\r\n").arg(i));
        console.moveCaretToEnd();
        QApplication::processEvents();
    };
    arrive(200);
    EXPECT_GT(bar->maximum(), 0);
    EXPECT_EQ(bar->value(), bar->maximum());
    bar->triggerAction(QAbstractSlider::SliderPageStepSub);
    const int kept = bar->value();
    arrive(5);
    EXPECT_EQ(bar->value(), kept) << "the console moved under the operator";
    bar->triggerAction(QAbstractSlider::SliderToMaximum);
    arrive(5);
    EXPECT_EQ(bar->value(), bar->maximum());
    auto* send = window->findChild<QWidget*>("txtSendView");
    auto* top = window->findChild<QWidget*>("topArea");
    auto* debug = window->findChild<QWidget*>("debugArea");
    const QSize sendBefore = send->size(), recvBefore = recv->size(), topBefore = top->size();
    window->resize(window->size() + QSize(300, 200));
    settle(window);
    EXPECT_EQ(top->size(), topBefore);
    EXPECT_EQ(send->height(), sendBefore.height() + 200);
    EXPECT_EQ(recv->height(), recvBefore.height() + 200);
    EXPECT_FALSE(debug->isVisible());
    f.main.MainPanel.setHeight(11000);
    settle(window);
    EXPECT_TRUE(debug->isVisible());
    EXPECT_EQ(window->minimumSizeHint().boundedTo(room), window->minimumSizeHint());
}

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
}

// The program's filters become Qt's; a file that is not there yet may be chosen for a read.
TEST(FileDialogPicker, TakesTheProgramsFiltersAndOpensInTheGivenFolder) {
    // Several patterns, blanks around them, empty pairs at the end.
    EXPECT_EQ(toQtFilter("Bitstreams (*.bit,*.bin)| *.bit;*.bin|Software (*.elf,*.srec,*.bin) "
                         "|*.elf;*.srec;*.bin|All Files (*.*)|*.*||"),
              "Bitstreams (*.bit *.bin);;Software (*.elf *.srec *.bin);;All Files (*)");
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
        {"no title: the program's", "", Exclamation, Ok, B::Ok, P::Answer::Ok, B::Warning},
        {"Cancel of two", "W", Question, OkCancel, B::Cancel, P::Answer::Cancel, B::Question},
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

TEST(WidgetBinding, WhatTheModelSetsIsShownAndWhatTheOperatorDoesReachesTheModel) {
    const struct {
        const char* what;
        QObject* (*make)(QWidget*);
        std::function<void(Control&, QObject*)> act;
        const char *shown, *model, *events;
    } cases[] = {
        // From the model to the screen; nothing comes back as a second event.
        {"a button shows its caption, disabled and hidden", make<QPushButton>,
         [](Control& c, auto) { c.setText("Connect"), c.setEnabled(false), c.setVisible(false); },
         "disabled hidden Connect", "Connect", "change"},
        {"a list shows the entries and the selection", make<QComboBox>,
         [](Control& c, auto) { c.setSelectedIndex(1); }, "1 of 2: COM7", "COM7 #1", "click"},
        {"a list with nothing selected shows the text instead", make<QComboBox>,
         [](Control& c, auto) { c.setText("None Selected"); }, "-1 of 2: None Selected",
         "None Selected", "change"},
        {"an editable list shows the text", make<QComboBox, true>,
         [](Control& c, auto) { c.setText("None Selected"); }, "-1 of 2: None Selected",
         "None Selected", "change"},
        {"a progress bar shows value and maximum", make<QProgressBar>,
         [](Control& c, auto) { c.setMaximum(250), c.setValue(125.4); }, "125/250", "", ""},
        {"a console shows CR LF, and CR and LF fed apart, as one line break", make<QPlainTextEdit>,
         [](Control& c, auto) { c.setText("a\r\n"), c.appendText("b\r"), c.appendText("\nc"); },
         "a\nb\nc", "a\r\nb\r\nc", "change change change"},
        {"a menu entry shows caption, check mark and visibility", make<QAction>,
         [](Control& c, auto) { c.setText("Options"), c.setChecked(true), c.setVisible(false); },
         "hidden Options checked", "Options checked", "change"},
        // From the operator to the model.
        {"choosing a menu entry clicks it and leaves the check mark to the model", make<QAction>,
         [](Control&, QObject* o) { static_cast<QAction*>(o)->trigger(); }, "", "", "click"},
        {"ticking a check box checks and clicks it", make<QCheckBox>,
         [](Control&, QObject* o) { static_cast<QCheckBox*>(o)->click(); }, "checked", " checked",
         "click"},
        {"choosing a list entry selects it and clicks the list", make<QComboBox>,
         [](Control&, QObject* o) {
             static_cast<QComboBox*>(o)->setCurrentIndex(1);
             emit static_cast<QComboBox*>(o)->activated(1);
         },
         "1 of 2: COM7", "COM7 #1", "click"},
        {"typing in an editable list sets the text", make<QComboBox, true>,
         [](Control&, QObject* o) { typeKey(static_cast<QComboBox*>(o)->lineEdit(), 'X', "x"); },
         "-1 of 2: x", "x", "change"},
        {"typing in a console raises each key before the text shows it", make<QPlainTextEdit>,
         [](Control&, QObject* o) {
             typeKey(o, 'A', "a"), typeKey(o, Qt::Key_Return, "\r"), typeKey(o, 'B', "b");
         },
         "a\nb", "a\r\nb", "key 97 on '' change key 13 on 'a' change key 98 on 'a\r\n' change"},
        {"double-clicking a picture double-clicks it", make<QLabel>,
         [](Control&, QObject* o) {
             QMouseEvent dbl(QEvent::MouseButtonDblClick, QPointF(1, 1), QPointF(1, 1),
                             Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
             QApplication::sendEvent(o, &dbl);
         },
         "", "", "double-click"},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        Control c{"c"};
        c.addItem("COM3");
        c.addItem("COM7");
        QStringList events;
        c.onChange = [&] { events << "change"; };
        c.onClick = [&] { events << "click"; };
        c.onDoubleClick = [&] { events << "double-click"; };
        c.onKeyPress = [&](int key) { events << QString("key %1 on '%2'").arg(key).arg(c.text()); };
        QWidget root;
        QObject* w = t.make(&root);
        EXPECT_TRUE(bindControls(&root, {&c}).isEmpty());
        t.act(c, w);
        EXPECT_EQ(shown(w), t.shown);
        EXPECT_EQ(c.text() + (c.checked() ? " checked" : "") +
                      (c.selectedIndex() >= 0 ? QString(" #%1").arg(c.selectedIndex()) : ""),
                  t.model);
        EXPECT_EQ(events.join(' '), t.events);
    }
}
