#include "support/SimHarness.h"

#include "app/StyleSheetSkinning.h"
#include "panel/ui/MainWindowView.h"

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
    // The main window, shown.
    QMainWindow* shown() { return settle(view.window()), view.window(); }
};

// The widget class a control's name calls for.
const char* kindFor(const QString& n, QObject* o) {
    return n == "txtSendView" || n == "txtRecvView"               ? "QPlainTextEdit"
           : n == "Image1" || n.startsWith("lbl")                 ? "QLabel"
           : n == "BPI_Board" || n == "SendMode" || n == "Frame1" ? "QGroupBox"
           : n.startsWith("btn") || n == "Command1"               ? "QPushButton"
           : n.startsWith("txt")                                  ? "QLineEdit"
           : n.startsWith("cb")                                   ? "QComboBox"
           : n.startsWith("rb")                                   ? "QRadioButton"
           : n.startsWith("chk")                                  ? "QCheckBox"
           : n.startsWith("hsc")                                  ? "QProgressBar"
           : n.startsWith("mnu") ? (o->inherits("QMenu") ? "QMenu" : "QAction")
                                 : "no widget kind";
}

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

} // namespace

// Each menu and entry has a mnemonic of its own in its menu and shows the model's caption; a
// model that hides a dialog ends its modal run.
TEST(MainWindowView, EveryControlHasAWidgetOfItsKindAndEveryMenuItsMnemonicAndCaption) {
    Forms f;
    const std::pair<QWidget*, std::vector<Control*>> forms[] = {
        {f.view.window(), f.main.all()},
        {f.view.dialogOf(f.comm.CommPropertiesPanel), f.comm.all()},
        {f.view.dialogOf(f.debug.DebugPW), f.debug.all()},
    };
    for (const auto& [root, controls] : forms) {
        ASSERT_TRUE(root);
        QSet<QString> names;
        for (Control* c : controls) {
            EXPECT_FALSE(names.contains(c->name())) << "a control bound by another's name";
            names << c->name();
            QObject* o = root->findChild<QObject*>(c->name());
            EXPECT_TRUE(c->name() == root->objectName() ||
                        (o && o->inherits(kindFor(c->name(), o))))
                << c->name().toStdString();
        }
    }
    f.main.mnuBoardCheck.setText("Enable Board Check");
    QHash<QString, QString> captions;
    for (Control* c : f.main.all())
        captions[c->name()] = c->text();
    QList<QAction*> bar = f.view.window()->menuBar()->actions();
    QList<QList<QAction*>> menus{bar};
    for (QAction* a : bar)
        menus << a->menu()->actions();
    for (const auto& actions : menus) {
        std::set<QChar> used;
        for (QAction* a : actions) {
            const QString name = a->menu() ? a->menu()->objectName() : a->objectName();
            QString text = a->text();
            const qsizetype at = text.indexOf('&');
            if (a->isSeparator())
                continue;
            ASSERT_GE(at, 0) << name.toStdString();
            EXPECT_TRUE(used.insert(text[at + 1].toLower()).second) << name.toStdString();
            EXPECT_EQ(text.remove(at, 1), captions.value(name, "no control"));
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

// No two controls shown in a mode overlap and no caption is clipped; a disabled menu, and a
// disabled entry even under the pointer, is drawn otherwise than an enabled one. A skin starts
// only from a file that holds a sheet.
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
        EXPECT_EQ(qApp->styleSheet(), "");
    }
}

// The top keeps its size; the consoles take what the window has beyond its minimum, and a
// larger window uncovers nothing: the debug fields come only with the access code. A 1280x800
// screen at 1.5x scale is 853x533 logical pixels, a title bar and a desktop panel take some 60:
// the window fits at its usual size, and with the debug fields at least at its smallest. Esc
// goes to the form; Tab moves the focus out of either console and is no character for the
// board. The status line is shown under the consoles.
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
    const QString words = QString("abcdef ").repeated(40);
    const struct {
        QString text;
        int piece;
        QList<qsizetype> lines;
    } cases[] = {{words, 280, {91, 91, 91, 7}},
                 {words, 1, {91, 91, 91, 7}},
                 {words, 5, {91, 91, 91, 7}},
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
    f.main.lblStatus.setText("SPI Read: successful in 2.0 s");
    auto* status = window->findChild<QLabel*>("lblStatus");
    EXPECT_EQ(status->text(), "SPI Read: successful in 2.0 s");
    EXPECT_GT(status->y(), recv->geometry().bottom());
    const QSize sendBefore = send->size(), recvBefore = recv->size(), topBefore = top->size();
    window->resize(window->size() + QSize(300, 200));
    settle(window);
    EXPECT_EQ(top->size(), topBefore);
    EXPECT_EQ(send->height(), sendBefore.height() + 200);
    EXPECT_EQ(recv->height(), recvBefore.height() + 200);
    EXPECT_NEAR(send->width(), sendBefore.width() + 150, 1);
    EXPECT_NEAR(recv->width(), recvBefore.width() + 150, 1);
    EXPECT_FALSE(debug->isVisible());
    f.main.MainPanel.setHeight(11000);
    settle(window);
    EXPECT_TRUE(debug->isVisible());
    for (const char* field : {"txtTimeout", "txtBpiBurstSize", "chkFastAck", "txtPath"})
        EXPECT_TRUE(window->findChild<QWidget*>(field)->isVisible()) << field;
    EXPECT_EQ(window->minimumSizeHint().boundedTo(room), window->minimumSizeHint());
    EXPECT_GE(window->minimumSizeHint().height(), 300) << "the window has a sensible minimum";
}
