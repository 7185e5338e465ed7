// Binding the text fields: line edits, and the consoles with their line breaking.
#include "panel/ui/BindingParts.h"
#include "panel/ui/WidgetBinding.h"

#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScrollBar>
#include <QTextCursor>
#include <algorithm>

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

namespace binding {

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

namespace {

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

// What a console's view shows of its control, and what waits to be shown.
struct ConsoleView {
    QString shown; // the model text the view shows, in the model's line ends
    bool updating = false;
    CaretWatch caret;
    LineBreaker lines;
    QString pending;         // appended in the model, shown at the next turn of the loop
    QList<qsizetype> breaks; // line breaks pending inside the text already shown
    bool caretPending = false;
    // The view shows the newest text unless the operator has scrolled away from it.
    bool following = true;
    bool breakLines = false;

    void flush(QPlainTextEdit* w);
    // Consoles grow a few characters at a time: append what was added, in time that does
    // not grow with the text. True when the view had nothing waiting before.
    bool append(const QString& t, qsizetype added);
    void replace(QPlainTextEdit* w, const QString& t);
    void apply(const std::shared_ptr<ConsoleView>& self, Control& c, QPlainTextEdit* w);
};

// A caret at the end moves with what is added there, and the view with the caret.
void ConsoleView::flush(QPlainTextEdit* w) {
    updating = true;
    const int place = w->verticalScrollBar()->value();
    if (!pending.isEmpty() || !breaks.isEmpty()) {
        QTextCursor at(w->document());
        const int end = w->document()->characterCount() - 1;
        std::sort(breaks.begin(), breaks.end());
        for (qsizetype back : breaks) {
            at.setPosition(std::max(0, end - int(back)));
            at.insertText(QStringLiteral("\n"));
        }
        breaks.clear();
        at.movePosition(QTextCursor::End);
        at.insertText(pending);
        pending.clear();
    }
    // Moving the caret would also take the operator's place and selection away.
    if (caretPending && (!breakLines || following)) {
        w->moveCursor(QTextCursor::End);
        w->ensureCursorVisible();
    }
    caretPending = false;
    if (breakLines)
        w->verticalScrollBar()->setValue(following ? w->verticalScrollBar()->maximum() : place);
    updating = false;
}

bool ConsoleView::append(const QString& t, qsizetype added) {
    updating = true;
    QString tail = t.right(added);
    shown.append(tail);
    if (shown.size() > tail.size() &&
        shown.at(shown.size() - tail.size() - 1) == QLatin1Char('\r') &&
        tail.startsWith(QLatin1Char('\n')))
        tail.remove(0, 1);
    const bool idle = pending.isEmpty() && breaks.isEmpty() && !caretPending;
    if (breakLines)
        lines.add(consoleToView(tail), pending, breaks);
    else
        pending += consoleToView(tail);
    updating = false;
    return idle;
}

void ConsoleView::replace(QPlainTextEdit* w, const QString& t) {
    updating = true;
    pending.clear();
    breaks.clear();
    lines = {};
    QString all;
    if (breakLines)
        lines.add(consoleToView(t), all, breaks);
    else
        all = consoleToView(t);
    w->setPlainText(all);
    shown = t;
    // Its own copy: sharing the model's text would make each append copy it whole.
    shown.detach();
    updating = false;
}

// A stream arrives a byte at a time; laying the text out again for each costs far more than
// the byte. A read-only console gathers what arrives and shows it once per turn of the event
// loop.
void ConsoleView::apply(const std::shared_ptr<ConsoleView>& self, Control& c, QPlainTextEdit* w) {
    applyCommon(c, w);
    const QString& t = c.text();
    const qsizetype added = c.lastAppended();
    if (added > 0 && shown.size() + added == t.size()) {
        if (append(t, added) && breakLines)
            QMetaObject::invokeMethod(
                w, [self, w] { self->flush(w); }, Qt::QueuedConnection);
    } else if (t != shown) {
        replace(w, t);
    }
    if (caret.due(c))
        caretPending = true;
    if (!breakLines || (pending.isEmpty() && breaks.isEmpty()))
        flush(w);
}

} // namespace

void bindPlainText(QPlainTextEdit* w, Control& c) {
    auto st = std::make_shared<ConsoleView>();
    st->caret = {c.caretMoves()};
    st->breakLines = w->isReadOnly();
    QScrollBar* bar = w->verticalScrollBar();
    w->setPlainText({});
    // The operator's scrolling: the bar's actions, and the keys that move the view.
    QObject::connect(bar, &QScrollBar::actionTriggered, w,
                     [st, bar] { st->following = bar->sliderPosition() >= bar->maximum(); });
    QObject::connect(bar, &QScrollBar::valueChanged, w, [st, bar](int value) {
        if (!st->updating)
            st->following = value >= bar->maximum();
    });
    follow(c, w, [st](Control& c, QPlainTextEdit* w) { st->apply(st, c, w); });
    QObject::connect(w, &QPlainTextEdit::textChanged, w, [st, w, &c] {
        if (st->updating)
            return;
        st->shown = viewToConsole(w->toPlainText());
        c.setText(st->shown);
    });
    w->installEventFilter(new OperatorEvents(w, c, true));
}

} // namespace binding
