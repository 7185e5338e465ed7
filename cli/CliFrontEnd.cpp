#include "cli/CliFrontEnd.h"

#include <unistd.h>

static QString oneLine(QString text) {
    text.replace("\r\n", "\n").replace("\n\r", "\n").replace('\r', '\n');
    return text;
}

Prompter::Answer CliPrompter::ask(const QString& text, const QString& title, Icon icon,
                                  Buttons buttons) {
    titles << title;
    icons << icon;
    std::fprintf(stderr, "%s: %s\n", qPrintable(title), qPrintable(oneLine(text)));
    if (buttons == Buttons::Ok)
        return Answer::Ok;
    if (!yes_) {
        declined = true;
        std::fprintf(stderr, "zbpu-cli: answered %s; run with --yes to answer %s\n",
                     buttons == Buttons::YesNo ? "No" : "Cancel",
                     buttons == Buttons::YesNo ? "Yes" : "OK");
    }
    if (buttons == Buttons::YesNo)
        return yes_ ? Answer::Yes : Answer::No;
    return yes_ ? Answer::Ok : Answer::Cancel;
}

ConsoleEcho::ConsoleEcho(Control& console, Control& progress, Control& caption)
    : console_(console)
    , progress_(progress)
    , caption_(caption)
    , tty_(isatty(STDERR_FILENO)) {
    console_.watch([this] { consoleChanged(); });
    progress_.watch([this] { progressChanged(); });
}

void ConsoleEcho::consoleChanged() {
    const QString& text = console_.text();
    QString fresh;
    if (console_.lastAppended() > 0) {
        fresh = text.right(console_.lastAppended());
    } else if (text.size() <= printed_) {
        // Cleared, or its oldest lines dropped off: nothing new to print.
        printed_ = text.size();
        return;
    } else {
        fresh = text.mid(printed_);
    }
    printed_ = text.size();
    fresh.remove('\r');
    std::fputs(fresh.toLocal8Bit().constData(), stdout);
    std::fflush(stdout);
}

void ConsoleEcho::progressChanged() {
    if (!tty_)
        return;
    if (!progress_.visible()) {
        if (shownValue_ >= 0)
            std::fputs("\r\033[K", stderr);
        shownValue_ = -1;
        return;
    }
    const double max = progress_.maximum() > 0 ? progress_.maximum() : 100;
    const int pct = int(100.0 * progress_.value() / max);
    if (pct == shownValue_)
        return;
    shownValue_ = pct;
    const int width = 40, filled = width * pct / 100;
    std::fprintf(stderr, "\r%-28s [%s%s] %3d%%", qPrintable(caption_.text().left(28)),
                 QByteArray(filled, '#').constData(), QByteArray(width - filled, '.').constData(),
                 pct);
    std::fflush(stderr);
}
