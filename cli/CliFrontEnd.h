#pragma once

#include "controls/Control.h"
#include "engine/Clock.h"
#include "engine/Prompter.h"

#include <QStringList>
#include <cstdio>

// The headless operator's senses: message boxes go to standard error.
// Questions are answered Yes with --yes, asked (y/N) when standard input is a terminal, and
// otherwise answered No with a word on --yes. Menus named in a message become the options.
class CliPrompter : public Prompter {
public:
    explicit CliPrompter(bool yes, std::FILE* in = stdin, bool interactive = false)
        : yes_(yes)
        , in_(in)
        , interactive_(interactive) {}
    Answer ask(const QString& text, const QString& title, Icon icon, Buttons buttons) override;

    // Titles of the boxes shown, in order, with their icons and texts.
    QStringList titles;
    QList<Icon> icons;
    QStringList texts;
    // A question was answered No or Cancel for want of --yes.
    bool declined = false;
    // The port scan's failure box is left to a command that lists the ports itself.
    bool quietPortScan = false;

private:
    // A box as a Linux tool says it: errors as "zbpu-cli: WHY", others as "TITLE: TEXT".
    QString spoken(const QString& title, const QString& text) const;

    bool yes_;
    std::FILE* in_;
    bool interactive_;
};

// What a message says on the command line: the window's menu becomes the option.
QString cliWording(QString text);

// Answers the file dialog with the file named on the command line.
class CliPicker : public FilePicker {
public:
    QString pick(const QString&, const QString&) override { return path; }
    QString path;
};

// One progress line: the caption, the percentage, and with a byte count the bytes done, the
// rate and the time left; "--:--" until a rate can be told. The rate is never taken faster than
// the line's bytes per second (0: not known).
QString progressLine(QString caption, int percent, qint64 totalBytes, qint64 elapsedMs,
                     double lineBytesPerSecond = 0);

// Prints what is appended to the receive console, and the progress line on a terminal.
class ConsoleEcho {
public:
    ConsoleEcho(Control& console, Control& progress, Control& caption, Clock& clock,
                std::FILE* out);

    // A new operation of this many bytes (0: none to tell) starts now, on a line that carries
    // at most lineBytesPerSecond (0: not known).
    void begin(qint64 totalBytes, double lineBytesPerSecond = 0);
    // A status line: one that says how long finishing a transfer takes goes to standard error,
    // on a terminal in place, elsewhere when it starts and every ten seconds.
    void statusChanged(const QString& text);
    // The highest percentage shown since begin, and the last line printed.
    int percentSeen() const { return percentSeen_; }
    QString lastLine() const {
        return partial_.trimmed().isEmpty() ? lastLine_ : partial_.trimmed();
    }

private:
    void consoleChanged();
    void progressChanged();

    Control& console_;
    Control& progress_;
    Control& caption_;
    Clock& clock_;
    std::FILE* out_;
    qsizetype printed_ = 0;
    QString shown_;
    bool tty_;
    qint64 total_ = 0;
    double lineRate_ = 0;
    std::int64_t startUs_ = 0;
    int percentSeen_ = 0;
    QString lastLine_, partial_;
    QString finishing_;
    int finishingSeconds_ = -1;
};
