#include "panel/ui/WidgetBinding.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <cctype>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A form made in code: a root named "Form" and the widgets added to it. Declared after the
// controls it binds, so that it dies first.
struct Form {
    std::unique_ptr<QWidget> root = std::make_unique<QWidget>();
    Form() { root->setObjectName("Form"); }

    template <class W> W* add(const char* name, QWidget* parent = nullptr) {
        auto* w = new W(parent ? parent : root.get());
        w->setObjectName(name);
        return w;
    }
};

void typeKey(QWidget* w, int key, const QString& text) {
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &press);
    QKeyEvent release(QEvent::KeyRelease, key, Qt::NoModifier, text);
    QApplication::sendEvent(w, &release);
}

void typeText(QWidget* w, const QString& text) {
    for (QChar ch : text)
        typeKey(w, ch.toUpper().unicode(), QString(ch));
}

void doubleClick(QWidget* w) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QMouseEvent press(QEvent::MouseButtonPress, at, w->mapToGlobal(at), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &press);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, w->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(w, &dbl);
}

struct Counts {
    int change = 0, click = 0, doubleClick = 0;
    void watch(Control& c) {
        c.onChange = [this] { ++change; };
        c.onClick = [this] { ++click; };
        c.onDoubleClick = [this] { ++doubleClick; };
    }
};

} // namespace

struct ModelToViewCase {
    const char* what;
    std::function<QObject*(Form&)> make;
    std::function<void(Control&)> change;
    std::function<bool(QObject*)> shows;
};

TEST(WidgetBinding, EveryWidgetKindShowsWhatItsControlHolds) {
    const ModelToViewCase cases[] = {
        {"a field shows the text", [](Form& f) { return f.add<QLineEdit>("c"); },
         [](Control& c) { c.setText("abc"); },
         [](QObject* o) { return static_cast<QLineEdit*>(o)->text() == "abc"; }},
        {"a button shows its caption", [](Form& f) { return f.add<QPushButton>("c"); },
         [](Control& c) { c.setText("Connect to COM3"); },
         [](QObject* o) { return static_cast<QPushButton*>(o)->text() == "Connect to COM3"; }},
        {"a label shows its caption", [](Form& f) { return f.add<QLabel>("c"); },
         [](Control& c) { c.setText("SPI Operations"); },
         [](QObject* o) { return static_cast<QLabel*>(o)->text() == "SPI Operations"; }},
        {"a frame shows its caption as title", [](Form& f) { return f.add<QGroupBox>("c"); },
         [](Control& c) { c.setText("BPI Server"); },
         [](QObject* o) { return static_cast<QGroupBox*>(o)->title() == "BPI Server"; }},
        {"a disabled control is disabled", [](Form& f) { return f.add<QPushButton>("c"); },
         [](Control& c) { c.setEnabled(false); },
         [](QObject* o) { return !static_cast<QWidget*>(o)->isEnabled(); }},
        {"a hidden control is hidden", [](Form& f) { return f.add<QLineEdit>("c"); },
         [](Control& c) { c.setVisible(false); },
         [](QObject* o) { return static_cast<QWidget*>(o)->isHidden(); }},
        {"a tool tip follows the control", [](Form& f) { return f.add<QComboBox>("c"); },
         [](Control& c) { c.setToolTip("Select baud rate."); },
         [](QObject* o) { return static_cast<QWidget*>(o)->toolTip() == "Select baud rate."; }},
        {"an option button shows its check", [](Form& f) { return f.add<QRadioButton>("c"); },
         [](Control& c) { c.setChecked(true); },
         [](QObject* o) { return static_cast<QRadioButton*>(o)->isChecked(); }},
        {"a check box shows its check", [](Form& f) { return f.add<QCheckBox>("c"); },
         [](Control& c) { c.setChecked(true); },
         [](QObject* o) { return static_cast<QCheckBox*>(o)->isChecked(); }},
        {"a list shows the entries and the selection",
         [](Form& f) { return f.add<QComboBox>("c"); },
         [](Control& c) {
             c.addItem("COM3");
             c.addItem("COM7");
             c.setSelectedIndex(1);
         },
         [](QObject* o) {
             auto* cb = static_cast<QComboBox*>(o);
             return cb->count() == 2 && cb->itemText(0) == "COM3" && cb->currentIndex() == 1;
         }},
        {"a list with nothing selected selects nothing and shows the text instead",
         [](Form& f) { return f.add<QComboBox>("c"); },
         [](Control& c) {
             c.setText("None Selected");
             c.addItem("bpi_server_v036");
         },
         [](QObject* o) {
             auto* cb = static_cast<QComboBox*>(o);
             return cb->currentIndex() == -1 && cb->placeholderText() == "None Selected";
         }},
        {"an editable list shows the text",
         [](Form& f) {
             auto* cb = f.add<QComboBox>("c");
             cb->setEditable(true);
             return cb;
         },
         [](Control& c) { c.setText("None Selected"); },
         [](QObject* o) { return static_cast<QComboBox*>(o)->currentText() == "None Selected"; }},
        {"a progress bar shows maximum and value", [](Form& f) { return f.add<QProgressBar>("c"); },
         [](Control& c) {
             c.setMaximum(250);
             c.setValue(125.4);
         },
         [](QObject* o) {
             auto* p = static_cast<QProgressBar*>(o);
             return p->maximum() == 250 && p->value() == 125;
         }},
        {"a console breaks lines at CR LF", [](Form& f) { return f.add<QPlainTextEdit>("c"); },
         [](Control& c) { c.setText("ack\r\n> "); },
         [](QObject* o) { return static_cast<QPlainTextEdit*>(o)->toPlainText() == "ack\n> "; }},
        {"a console fed CR and LF apart shows one line break",
         [](Form& f) { return f.add<QPlainTextEdit>("c"); },
         [](Control& c) {
             c.appendText("ab\r");
             c.appendText("\ncd");
         },
         [](QObject* o) { return static_cast<QPlainTextEdit*>(o)->toPlainText() == "ab\ncd"; }},
        {"a cleared console is empty", [](Form& f) { return f.add<QPlainTextEdit>("c"); },
         [](Control& c) {
             c.setText("abc");
             c.setText("");
         },
         [](QObject* o) { return static_cast<QPlainTextEdit*>(o)->toPlainText().isEmpty(); }},
        {"a menu entry shows caption, check mark and visibility",
         [](Form& f) {
             auto* a = new QAction(f.root.get());
             a->setObjectName("c");
             return a;
         },
         [](Control& c) {
             c.setText("Enable Board Check");
             c.setChecked(true);
             c.setVisible(false);
         },
         [](QObject* o) {
             auto* a = static_cast<QAction*>(o);
             return a->text() == "Enable Board Check" && a->isChecked() && !a->isVisible();
         }},
        {"a menu shows its title and can be hidden", [](Form& f) { return f.add<QMenu>("c"); },
         [](Control& c) {
             c.setText("Options");
             c.setVisible(false);
         },
         [](QObject* o) {
             auto* m = static_cast<QMenu*>(o);
             return m->title() == "Options" && !m->menuAction()->isVisible();
         }},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        Control c{"c"};
        Form f;
        QObject* w = t.make(f);
        EXPECT_TRUE(bindControls(f.root.get(), {&c}).isEmpty());
        t.change(c);
        EXPECT_TRUE(t.shows(w));
    }
}

struct ViewToModelCase {
    const char* what;
    std::function<QObject*(Form&)> make;
    std::function<void(QObject*)> operate;
    std::function<bool(const Control&, const Counts&)> reached;
};

TEST(WidgetBinding, EveryOperatorActionReachesTheControl) {
    const ViewToModelCase cases[] = {
        {"typing in a field sets the text and runs the change handler once",
         [](Form& f) { return f.add<QLineEdit>("c"); },
         [](QObject* o) { typeText(static_cast<QWidget*>(o), "7"); },
         [](const Control& c, const Counts& n) { return c.text() == "7" && n.change == 1; }},
        {"pressing a button clicks it", [](Form& f) { return f.add<QPushButton>("c"); },
         [](QObject* o) { static_cast<QPushButton*>(o)->click(); },
         [](const Control&, const Counts& n) { return n.click == 1; }},
        {"choosing a menu entry clicks it",
         [](Form& f) {
             auto* a = new QAction(f.root.get());
             a->setObjectName("c");
             return a;
         },
         [](QObject* o) { static_cast<QAction*>(o)->trigger(); },
         [](const Control&, const Counts& n) { return n.click == 1; }},
        {"ticking a check box checks it and clicks it",
         [](Form& f) { return f.add<QCheckBox>("c"); },
         [](QObject* o) { static_cast<QCheckBox*>(o)->click(); },
         [](const Control& c, const Counts& n) { return c.checked() && n.click == 1; }},
        {"choosing a list entry selects it and clicks the list",
         [](Form& f) { return f.add<QComboBox>("c"); },
         [](QObject* o) {
             auto* cb = static_cast<QComboBox*>(o);
             cb->setCurrentIndex(1);
             emit cb->activated(1);
         },
         [](const Control& c, const Counts& n) {
             return c.selectedIndex() == 1 && c.text() == "COM7" && n.click == 1;
         }},
        {"typing in an editable list sets the text and runs the change handler",
         [](Form& f) {
             auto* cb = f.add<QComboBox>("c");
             cb->setEditable(true);
             return cb;
         },
         [](QObject* o) { typeText(static_cast<QComboBox*>(o)->lineEdit(), "x"); },
         [](const Control& c, const Counts& n) { return c.text() == "x" && n.change == 1; }},
        {"double-clicking a field double-clicks it", [](Form& f) { return f.add<QLineEdit>("c"); },
         [](QObject* o) { doubleClick(static_cast<QWidget*>(o)); },
         [](const Control&, const Counts& n) { return n.doubleClick == 1; }},
        {"double-clicking a picture double-clicks it",
         [](Form& f) {
             auto* l = f.add<QLabel>("c");
             l->resize(40, 20);
             return l;
         },
         [](QObject* o) { doubleClick(static_cast<QWidget*>(o)); },
         [](const Control&, const Counts& n) { return n.doubleClick == 1; }},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        Control c{"c"};
        c.addItem("COM3");
        c.addItem("COM7");
        Counts n;
        n.watch(c);
        Form f;
        QObject* w = t.make(f);
        bindControls(f.root.get(), {&c});
        t.operate(w);
        EXPECT_TRUE(t.reached(c, n));
    }
}

TEST(WidgetBinding, TheModelsCorrectionOfAnEditShowsAndItsHandlerRunsOncePerChange) {
    Control offset{"txtOffset", "1"};
    QStringList seen;
    offset.onChange = [&] {
        seen << offset.text();
        for (QChar ch : offset.text())
            if (!isxdigit(ch.toLatin1())) offset.setText("0");
    };
    Form f;
    auto* field = f.add<QLineEdit>("txtOffset");
    bindControls(f.root.get(), {&offset});
    field->setCursorPosition(1);
    typeText(field, "f");
    typeText(field, "x");
    EXPECT_EQ(seen, QStringList({"1f", "1fx", "0"}));
    EXPECT_EQ(field->text(), "0");
}

TEST(WidgetBinding, TypingWhereTheModelKeepsTheTextLeavesTheCursorWhereItWas) {
    Control path{"txtPath", "abc"};
    path.onChange = [] {};
    Form f;
    auto* field = f.add<QLineEdit>("txtPath");
    bindControls(f.root.get(), {&path});
    field->setCursorPosition(1);
    typeText(field, "X");
    EXPECT_EQ(path.text(), "aXbc");
    EXPECT_EQ(field->cursorPosition(), 2);
}

TEST(WidgetBinding, WhatTheModelSetsDoesNotComeBackAsAnOperatorAction) {
    Control field{"f"}, console{"k"}, list{"l"}, box{"b"}, option{"o"};
    Counts nField, nConsole, nList, nBox, nOption;
    nField.watch(field);
    nConsole.watch(console);
    nList.watch(list);
    nBox.watch(box);
    nOption.watch(option);
    Form f;
    f.add<QLineEdit>("f");
    f.add<QPlainTextEdit>("k");
    f.add<QComboBox>("l")->setEditable(true);
    f.add<QCheckBox>("b");
    f.add<QRadioButton>("o");
    bindControls(f.root.get(), {&field, &console, &list, &box, &option});

    field.setText("None Selected");
    console.setText("ack\r\n");
    list.addItem("M25P16");
    list.setText("typed");
    box.setChecked(true);
    option.setChecked(true);

    EXPECT_EQ(nField.change, 1);
    EXPECT_EQ(nConsole.change, 1);
    EXPECT_EQ(console.text(), "ack\r\n");
    EXPECT_EQ(nList.change, 1);
    EXPECT_EQ(nList.click, 0);
    EXPECT_EQ(nBox.click, 0);
    EXPECT_EQ(nOption.click, 0);
}

TEST(WidgetBinding, TheSendConsoleHearsEachKeyBeforeItShowsTheCharacter) {
    Control send{"txtSendView"};
    QList<int> codes;
    QStringList textAtKey;
    send.onKeyPress = [&](int code) {
        codes << code;
        textAtKey << send.text();
    };
    Form f;
    auto* console = f.add<QPlainTextEdit>("txtSendView");
    bindControls(f.root.get(), {&send});

    typeText(console, "a");
    typeKey(console, Qt::Key_Return, "\r");
    typeText(console, "b");

    EXPECT_EQ(codes, QList<int>({'a', 13, 'b'}));
    EXPECT_EQ(textAtKey, QStringList({"", "a", "a\r\n"}));
    EXPECT_EQ(send.text(), "a\r\nb");
    EXPECT_EQ(console->toPlainText(), "a\nb");
}

TEST(WidgetBinding, ACaretRequestShowsTheLastLineOfTheConsole) {
    Control recv{"txtRecvView"};
    Form f;
    auto* console = f.add<QPlainTextEdit>("txtRecvView");
    console->resize(200, 80);
    bindControls(f.root.get(), {&recv});
    f.root->show();
    for (int i = 0; i < 50; ++i)
        recv.appendText(QString("line %1\r\n").arg(i));
    QApplication::processEvents();
    EXPECT_EQ(console->verticalScrollBar()->value(), 0);
    recv.moveCaretToEnd();
    QApplication::processEvents();
    EXPECT_TRUE(console->textCursor().atEnd());
    EXPECT_GT(console->verticalScrollBar()->value(), 0);
    EXPECT_TRUE(console->viewport()->rect().contains(console->cursorRect()));
}

TEST(WidgetBinding, TheProgressBarIsPaintedBeforeTheModelGoesOn) {
    struct PaintCounter : QObject {
        int paints = 0;
        bool eventFilter(QObject*, QEvent* e) override {
            paints += e->type() == QEvent::Paint;
            return false;
        }
    } counter;
    Control progress{"hscProgress"};
    Form f;
    auto* bar = f.add<QProgressBar>("hscProgress");
    bar->resize(200, 20);
    bindControls(f.root.get(), {&progress});
    f.root->show();
    QApplication::processEvents();
    bar->installEventFilter(&counter);
    progress.setValue(40);
    EXPECT_GE(counter.paints, 1);
    bar->removeEventFilter(&counter);
}

TEST(WidgetBinding, OptionButtonsFollowTheModelAndAClickChecksOnlyTheClickedOne) {
    Control ascii{"rbRecvMode_0"}, hex{"rbRecvMode_1"};
    Counts nAscii, nHex;
    nAscii.watch(ascii);
    nHex.watch(hex);
    ascii.setChecked(true);
    Form f;
    auto* frame = f.add<QGroupBox>("Frame1");
    auto* wAscii = f.add<QRadioButton>("rbRecvMode_0", frame);
    auto* wHex = f.add<QRadioButton>("rbRecvMode_1", frame);
    bindControls(f.root.get(), {&ascii, &hex});

    wHex->click();
    EXPECT_TRUE(hex.checked());
    EXPECT_FALSE(ascii.checked());
    EXPECT_FALSE(wAscii->isChecked());
    EXPECT_EQ(nHex.click, 1);

    wHex->click(); // clicking the checked one leaves it checked
    EXPECT_TRUE(wHex->isChecked());
    EXPECT_TRUE(hex.checked());

    hex.setChecked(false); // a state with none checked can be shown
    EXPECT_FALSE(wHex->isChecked());
    EXPECT_FALSE(wAscii->isChecked());
}

TEST(WidgetBinding, ACheckableMenuEntryKeepsTheCheckMarkTheModelGivesIt) {
    Control mode{"mnuFPGA", "Configure FPGA"};
    mode.setChecked(true);
    mode.onClick = [] {}; // choosing the mode already chosen changes nothing
    Form f;
    auto* action = new QAction(f.root.get());
    action->setObjectName("mnuFPGA");
    action->setCheckable(true);
    bindControls(f.root.get(), {&mode});
    action->trigger();
    EXPECT_TRUE(action->isChecked());
}

TEST(WidgetBinding, TheFormTakesItsTitleAndHeightInTwipsFromTheControlNamedLikeIt) {
    Control form{"Form", "Zelto Board Programming Utility v3.4.1"};
    form.setHeight(7000);
    Form f;
    f.root->resize(500, 300);
    bindControls(f.root.get(), {&form});
    EXPECT_EQ(f.root->windowTitle(), "Zelto Board Programming Utility v3.4.1");
    EXPECT_EQ(f.root->height(), 466);
    form.setHeight(11000);
    EXPECT_EQ(f.root->height(), 733);
    EXPECT_EQ(f.root->width(), 500);
}

TEST(WidgetBinding, ControlsWithoutAWidgetAreReportedAndWidgetsThatDiedAreLeftAlone) {
    Control there{"there"}, missing{"missing"};
    auto f = std::make_unique<Form>();
    f->add<QLineEdit>("there");
    EXPECT_EQ(bindControls(f->root.get(), {&there, &missing}), QStringList({"missing"}));
    f.reset();
    there.setText("after the window closed");
    SUCCEED();
}

TEST(WidgetBinding, ConsoleLineEndsSurviveTheWayToTheScreenAndBack) {
    const struct {
        const char* console;
        const char* view;
    } cases[] = {{"a\r\nb", "a\nb"}, {"a\rb", "a\nb"}, {"a\nb", "a\nb"}, {"", ""}};
    for (const auto& t : cases) {
        SCOPED_TRACE(t.console);
        EXPECT_EQ(consoleToView(t.console), t.view);
    }
    EXPECT_EQ(viewToConsole("a\nb\n"), "a\r\nb\r\n");
}
