#include "panel/ui/WidgetBinding.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>
#include <map>
#include <memory>

QString consoleToView(const QString& text) {
    QString out = text;
    out.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    out.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return out;
}

QString viewToConsole(const QString& text) {
    QString out = text;
    out.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return out;
}

namespace {

// Applies the model's state to the widget now and after every change of the control. The
// widget may die first (its window closed); the control outlives it by contract.
template <class W, class Apply> void follow(Control& c, W* w, Apply apply) {
    apply(c, w);
    QPointer<W> alive(w);
    int focusSeen = c.focusRequests();
    c.watch([&c, alive, apply, focusSeen]() mutable {
        if (!alive)
            return;
        apply(c, alive.data());
        if (c.focusRequests() != focusSeen) {
            focusSeen = c.focusRequests();
            if (auto* widget = qobject_cast<QWidget*>(alive.data()))
                widget->setFocus();
        }
    });
}

void applyCommon(Control& c, QWidget* w) {
    w->setEnabled(c.enabled());
    w->setVisible(c.visible());
    if (w->toolTip() != c.toolTip())
        w->setToolTip(c.toolTip());
}

// Mouse double-clicks and typed characters, seen before the widget handles them.
class OperatorEvents : public QObject {
public:
    OperatorEvents(QObject* parent, Control& c, bool keys)
        : QObject(parent)
        , control_(c)
        , keys_(keys) {}

    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::MouseButtonDblClick) {
            control_.doubleClick();
        } else if (keys_ && e->type() == QEvent::KeyPress) {
            auto* k = static_cast<QKeyEvent*>(e);
            // Tab moves the focus on: it is no character for the board.
            if (k->key() == Qt::Key_Tab || k->key() == Qt::Key_Backtab)
                return false;
            if (k->key() == Qt::Key_Return || k->key() == Qt::Key_Enter)
                control_.keyPress(13);
            else if (k->key() != Qt::Key_Delete)
                for (QChar ch : k->text())
                    control_.keyPress(ch.unicode());
        }
        return false;
    }

private:
    Control& control_;
    bool keys_;
};

// A caret-to-end request is a count that grows; the view acts when it sees it grow.
struct CaretWatch {
    int seen;
    bool due(const Control& c) {
        if (c.caretMoves() == seen)
            return false;
        seen = c.caretMoves();
        return true;
    }
};

// The debug fields are uncovered by the taller height the access code sets, and by nothing
// else: the window grows by their height as far as the screen allows, the consoles giving up
// what it does not.
void showDebugArea(QWidget* window, QWidget* debug) {
    debug->setVisible(true);
    int room = QWIDGETSIZE_MAX;
    if (QScreen* screen = window->screen())
        room = screen->availableGeometry().height() -
               (window->frameGeometry().height() - window->height());
    const int want = window->height() + debug->minimumHeight();
    window->resize(window->width(),
                   std::max(window->minimumSizeHint().height(), std::min(want, room)));
}

void bindRoot(QWidget* w, Control& c) {
    auto bound = std::make_shared<bool>(false);
    follow(c, w, [bound](Control& c, QWidget* w) {
        w->setWindowTitle(c.text());
        w->setEnabled(c.enabled());
        if (auto* debug = w->findChild<QWidget*>("debugArea")) {
            const bool uncovered = c.height() > DesignHeightTwips;
            if (uncovered && !debug->isVisibleTo(w))
                showDebugArea(w, debug);
            else if (!uncovered && debug->isVisibleTo(w))
                debug->hide();
        }
        // Showing a form at bind time is the caller's choice; later the model may show it.
        // Hiding a dialog also ends its exec().
        if (!c.visible() && w->isVisible())
            w->hide();
        else if (c.visible() && *bound && !w->isVisible())
            w->show();
    });
    *bound = true;
}

void bindLineEdit(QLineEdit* w, Control& c) {
    auto caret = std::make_shared<CaretWatch>(CaretWatch{c.caretMoves()});
    follow(c, w, [caret](Control& c, QLineEdit* w) {
        applyCommon(c, w);
        if (w->text() != c.text()) {
            const int pos = w->cursorPosition();
            w->setText(c.text());
            w->setCursorPosition(std::min(pos, int(c.text().size())));
        }
        if (caret->due(c))
            w->end(false);
    });
    QObject::connect(w, &QLineEdit::textEdited, w, [&c](const QString& s) { c.setText(s); });
    w->installEventFilter(new OperatorEvents(w, c, false));
}

// A read-only console shows lines no longer than this: a stream without line ends (hex
// mode) would otherwise be one paragraph that the widget lays out anew for every byte.
constexpr int ConsoleViewColumns = 96;

// Breaks a read-only console's long lines between words where the line has a blank: the word
// that does not fit moves to the next line, also when part of it is shown already. A line
// without a blank breaks at the last column.
struct LineBreaker {
    int column = 0;      // characters since the view's last line break
    int afterBlank = -1; // the column just after the line's last blank; -1: none

    // Adds plain text, in the view's line ends, to out. A break that falls before out's start
    // is given in earlier, as its distance back from the end of what is shown before out.
    void add(const QString& plain, QString& out, QList<qsizetype>& earlier) {
        for (QChar ch : plain) {
            if (ch == QLatin1Char('\n')) {
                column = 0;
                afterBlank = -1;
                out += ch;
                continue;
            }
            if (column == ConsoleViewColumns) {
                const qsizetype moved = afterBlank > 0 ? column - afterBlank : 0;
                if (moved <= out.size())
                    out.insert(out.size() - moved, QLatin1Char('\n'));
                else
                    earlier << moved - out.size();
                column = int(moved);
                afterBlank = -1;
            }
            out += ch;
            ++column;
            if (ch == QLatin1Char(' '))
                afterBlank = column;
        }
    }
};

void bindPlainText(QPlainTextEdit* w, Control& c) {
    struct State {
        QString shown; // the model text the view shows, in the model's line ends
        bool updating = false;
        CaretWatch caret;
        LineBreaker lines;
        QString pending;         // appended in the model, shown at the next turn of the loop
        QList<qsizetype> breaks; // line breaks pending inside the text already shown
        bool caretPending = false;
        // The view shows the newest text unless the operator has scrolled away from it.
        bool following = true;
    };
    auto st = std::make_shared<State>();
    st->caret = {c.caretMoves()};
    const bool breakLines = w->isReadOnly();
    QScrollBar* bar = w->verticalScrollBar();
    // A stream arrives a byte at a time; laying the text out again for each costs far more
    // than the byte. A read-only console gathers what arrives and shows it once per turn of
    // the event loop.
    const auto flush = [st, breakLines](QPlainTextEdit* w) {
        st->updating = true;
        // A caret at the end moves with what is added there, and the view with the caret.
        const int place = w->verticalScrollBar()->value();
        if (!st->pending.isEmpty() || !st->breaks.isEmpty()) {
            QTextCursor at(w->document());
            const int end = w->document()->characterCount() - 1;
            std::sort(st->breaks.begin(), st->breaks.end());
            for (qsizetype back : st->breaks) {
                at.setPosition(std::max(0, end - int(back)));
                at.insertText(QStringLiteral("\n"));
            }
            st->breaks.clear();
            at.movePosition(QTextCursor::End);
            at.insertText(st->pending);
            st->pending.clear();
        }
        // Moving the caret would also take the operator's place and selection away.
        if (st->caretPending && (!breakLines || st->following)) {
            w->moveCursor(QTextCursor::End);
            w->ensureCursorVisible();
        }
        st->caretPending = false;
        if (breakLines)
            w->verticalScrollBar()->setValue(st->following ? w->verticalScrollBar()->maximum()
                                                           : place);
        st->updating = false;
    };
    w->setPlainText({});
    // The operator's scrolling: the bar's actions, and the keys that move the view.
    QObject::connect(bar, &QScrollBar::actionTriggered, w,
                     [st, bar] { st->following = bar->sliderPosition() >= bar->maximum(); });
    QObject::connect(bar, &QScrollBar::valueChanged, w, [st, bar](int value) {
        if (!st->updating)
            st->following = value >= bar->maximum();
    });
    follow(c, w, [st, flush, breakLines](Control& c, QPlainTextEdit* w) {
        applyCommon(c, w);
        const QString& t = c.text();
        // Consoles grow a few characters at a time: append what was added, in time that does
        // not grow with the text.
        const qsizetype added = c.lastAppended();
        if (added > 0 && st->shown.size() + added == t.size()) {
            st->updating = true;
            QString tail = t.right(added);
            st->shown.append(tail);
            if (st->shown.size() > tail.size() &&
                st->shown.at(st->shown.size() - tail.size() - 1) == QLatin1Char('\r') &&
                tail.startsWith(QLatin1Char('\n')))
                tail.remove(0, 1);
            const bool idle = st->pending.isEmpty() && st->breaks.isEmpty() && !st->caretPending;
            if (breakLines)
                st->lines.add(consoleToView(tail), st->pending, st->breaks);
            else
                st->pending += consoleToView(tail);
            st->updating = false;
            if (idle && breakLines)
                QMetaObject::invokeMethod(
                    w, [flush, w] { flush(w); }, Qt::QueuedConnection);
        } else if (t != st->shown) {
            st->updating = true;
            st->pending.clear();
            st->breaks.clear();
            st->lines = {};
            QString all;
            if (breakLines)
                st->lines.add(consoleToView(t), all, st->breaks);
            else
                all = consoleToView(t);
            w->setPlainText(all);
            st->shown = t;
            // Its own copy: sharing the model's text would make each append copy it whole.
            st->shown.detach();
            st->updating = false;
        }
        if (st->caret.due(c))
            st->caretPending = true;
        if (!breakLines || (st->pending.isEmpty() && st->breaks.isEmpty()))
            flush(w);
    });
    QObject::connect(w, &QPlainTextEdit::textChanged, w, [st, w, &c] {
        if (st->updating)
            return;
        st->shown = viewToConsole(w->toPlainText());
        c.setText(st->shown);
    });
    w->installEventFilter(new OperatorEvents(w, c, true));
}

void bindCombo(QComboBox* w, Control& c) {
    follow(c, w, [](Control& c, QComboBox* w) {
        applyCommon(c, w);
        const QSignalBlocker quiet(w);
        QStringList shown;
        for (int i = 0; i < w->count(); ++i)
            shown << w->itemText(i);
        if (shown != c.items()) {
            w->clear();
            w->addItems(c.items());
        }
        if (w->currentIndex() != c.selectedIndex())
            w->setCurrentIndex(c.selectedIndex());
        if (w->isEditable()) {
            if (w->currentText() != c.text()) {
                const int pos = w->lineEdit()->cursorPosition();
                w->setEditText(c.text());
                w->lineEdit()->setCursorPosition(std::min(pos, int(c.text().size())));
            }
        } else {
            w->setPlaceholderText(c.selectedIndex() < 0 ? c.text() : QString());
        }
    });
    QObject::connect(w, &QComboBox::activated, w, [&c](int index) { c.setSelectedIndex(index); });
    if (w->isEditable())
        QObject::connect(w->lineEdit(), &QLineEdit::textEdited, w,
                         [&c](const QString& s) { c.setText(s); });
}

void applyButton(Control& c, QAbstractButton* w) {
    applyCommon(c, w);
    w->setText(c.text());
    if (w->isCheckable() && w->isChecked() != c.checked()) {
        const QSignalBlocker quiet(w);
        w->setChecked(c.checked());
    }
}

// A button whose form lets its caption grow is as wide as its caption; one wider than the
// design goes onto two lines, the button growing downward first.
void fitCaption(QPushButton* w, const QRect& design) {
    QString shown = w->text().replace(QLatin1Char('\n'), QLatin1Char(' '));
    w->setText(shown);
    const int cut = int(shown.lastIndexOf(QLatin1Char(' ')));
    if (w->sizeHint().width() > design.width() && cut > 0)
        w->setText(shown.replace(cut, 1, QLatin1Char('\n')));
    const QSize hint = w->sizeHint();
    w->setGeometry(design.x(), design.y(), std::max(design.width(), hint.width()),
                   std::max(design.height(), hint.height()));
}

void bindPushButton(QPushButton* w, Control& c) {
    if (w->property("captionGrows").toBool())
        follow(c, w, [design = w->geometry()](Control& c, QPushButton* w) {
            applyButton(c, w);
            fitCaption(w, design);
        });
    else
        follow(c, w, applyButton);
    QObject::connect(w, &QPushButton::clicked, w, [&c] { c.click(); });
}

void bindCheckBox(QCheckBox* w, Control& c) {
    follow(c, w, applyButton);
    QObject::connect(w, &QCheckBox::toggled, w, [&c](bool on) {
        c.setChecked(on);
        c.click();
    });
}

// Option buttons of one container exclude each other, as the model's checked states say; the
// widgets never decide that themselves, so a model state with none checked can be shown.
using RadioGroup = std::vector<std::pair<QPointer<QRadioButton>, Control*>>;

void bindRadios(const std::shared_ptr<RadioGroup>& group) {
    for (auto& [w, c] : *group) {
        w->setAutoExclusive(false);
        follow(*c, w.data(), applyButton);
        Control* clicked = c;
        QObject::connect(w, &QRadioButton::clicked, w, [group, clicked] {
            clicked->setChecked(true);
            for (auto& entry : *group)
                if (entry.second != clicked)
                    entry.second->setChecked(false);
            clicked->click();
            for (auto& [ow, oc] : *group)
                if (ow)
                    applyButton(*oc, ow);
        });
    }
}

// The keyboard mnemonic a menu's form marks with & goes before the first place of that letter
// in whatever caption the model gives; the caption shown stays the model's.
QChar mnemonicIn(const QString& designed) {
    for (qsizetype i = 0; i + 1 < designed.size(); ++i)
        if (designed[i] == QLatin1Char('&')) {
            if (designed[i + 1] != QLatin1Char('&'))
                return designed[i + 1];
            ++i;
        }
    return {};
}

QString withMnemonic(const QString& caption, QChar letter) {
    QString out = caption;
    out.replace(QLatin1String("&"), QLatin1String("&&"));
    const qsizetype at = letter.isNull() ? -1 : out.indexOf(letter);
    if (at >= 0)
        out.insert(at, QLatin1Char('&'));
    return out;
}

void bindAction(QAction* a, Control& c) {
    auto apply = [letter = mnemonicIn(a->text())](Control& c, QAction* a) {
        a->setText(withMnemonic(c.text(), letter));
        a->setToolTip(c.toolTip().isEmpty() ? c.text() : c.toolTip());
        a->setEnabled(c.enabled());
        a->setVisible(c.visible());
        if (c.checked())
            a->setCheckable(true);
        if (a->isCheckable() && a->isChecked() != c.checked()) {
            const QSignalBlocker quiet(a);
            a->setChecked(c.checked());
        }
    };
    follow(c, a, apply);
    QPointer<QAction> alive(a);
    QObject::connect(a, &QAction::triggered, a, [&c, alive, apply] {
        c.click();
        // A checkable action toggles itself; the model's check marks decide.
        if (alive)
            apply(c, alive.data());
    });
}

void bindMenu(QMenu* m, Control& c) {
    follow(c, m, [letter = mnemonicIn(m->title())](Control& c, QMenu* m) {
        m->setTitle(withMnemonic(c.text(), letter));
        m->menuAction()->setEnabled(c.enabled());
        m->menuAction()->setVisible(c.visible());
    });
}

void bindLabel(QLabel* w, Control& c) {
    follow(c, w, [](Control& c, QLabel* w) {
        applyCommon(c, w);
        // A picture keeps its picture; pictures have no caption in the model.
        if (w->pixmap().isNull() && w->text() != c.text()) {
            w->setText(c.text());
            // Progress captions change while long operations hold the thread.
            if (w->isVisible())
                w->repaint();
        }
    });
    w->installEventFilter(new OperatorEvents(w, c, false));
}

void bindGroupBox(QGroupBox* w, Control& c) {
    follow(c, w, [](Control& c, QGroupBox* w) {
        applyCommon(c, w);
        w->setTitle(c.text());
    });
}

void bindProgress(QProgressBar* w, Control& c) {
    follow(c, w, [](Control& c, QProgressBar* w) {
        applyCommon(c, w);
        const int max = std::max(0, int(c.maximum() + 0.5));
        const int value = std::clamp(int(c.value() + 0.5), 0, max);
        if (w->minimum() != 0 || w->maximum() != max)
            w->setRange(0, max);
        if (w->value() != value) {
            w->setValue(value);
            // Downloads hold the thread, so the bar would not be drawn until they end.
            w->repaint();
        }
    });
}

// True when the object lies in root's own window (the dialogs are children of the main window
// but are forms of their own). Menus are pop-up windows inside the form.
bool belongsTo(QObject* obj, QWidget* root) {
    for (QObject* p = obj->parent(); p; p = p->parent()) {
        if (p == root)
            return true;
        auto* w = qobject_cast<QWidget*>(p);
        if (w && w->isWindow() && !qobject_cast<QMenu*>(w))
            return false;
    }
    return false;
}

QObject* findInForm(QWidget* root, const QString& name) {
    for (QObject* obj : root->findChildren<QObject*>(name))
        if (belongsTo(obj, root))
            return obj;
    return nullptr;
}

} // namespace

QStringList bindControls(QWidget* root, const std::vector<Control*>& controls) {
    QStringList missing;
    std::map<QWidget*, std::shared_ptr<RadioGroup>> radios;
    for (Control* c : controls) {
        if (c->name() == root->objectName()) {
            bindRoot(root, *c);
            continue;
        }
        QObject* obj = findInForm(root, c->name());
        if (auto* a = qobject_cast<QAction*>(obj))
            bindAction(a, *c);
        else if (auto* m = qobject_cast<QMenu*>(obj))
            bindMenu(m, *c);
        else if (auto* b = qobject_cast<QRadioButton*>(obj)) {
            auto& group = radios[b->parentWidget()];
            if (!group)
                group = std::make_shared<RadioGroup>();
            group->emplace_back(b, c);
        } else if (auto* b = qobject_cast<QCheckBox*>(obj))
            bindCheckBox(b, *c);
        else if (auto* b = qobject_cast<QPushButton*>(obj))
            bindPushButton(b, *c);
        else if (auto* e = qobject_cast<QLineEdit*>(obj))
            bindLineEdit(e, *c);
        else if (auto* e = qobject_cast<QPlainTextEdit*>(obj))
            bindPlainText(e, *c);
        else if (auto* cb = qobject_cast<QComboBox*>(obj))
            bindCombo(cb, *c);
        else if (auto* p = qobject_cast<QProgressBar*>(obj))
            bindProgress(p, *c);
        else if (auto* g = qobject_cast<QGroupBox*>(obj))
            bindGroupBox(g, *c);
        else if (auto* l = qobject_cast<QLabel*>(obj))
            bindLabel(l, *c);
        else if (auto* w = qobject_cast<QWidget*>(obj))
            follow(*c, w, applyCommon);
        else
            missing << c->name();
    }
    for (auto& [parent, group] : radios)
        bindRadios(group);
    if (!missing.isEmpty())
        qWarning("Controls without a widget in %s: %s", qPrintable(root->objectName()),
                 qPrintable(missing.join(QLatin1String(", "))));
    return missing;
}
