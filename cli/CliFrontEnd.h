#pragma once

#include "controls/Control.h"
#include "link/Prompter.h"

#include <QStringList>
#include <cstdio>

// The headless operator's senses: message boxes go to standard error as "TITLE: TEXT" and
// are answered Yes/OK only when allowed; console lines go to standard output as they come.
class CliPrompter : public Prompter {
public:
    explicit CliPrompter(bool yes)
        : yes_(yes) {}
    Answer ask(const QString& text, const QString& title, Icon icon, Buttons buttons) override;

    // Titles of the boxes shown, in order, with their icons.
    QStringList titles;
    QList<Icon> icons;
    // A question was answered No or Cancel for want of --yes.
    bool declined = false;

private:
    bool yes_;
};

// Answers the file dialog with the file named on the command line.
class CliPicker : public FilePicker {
public:
    QString pick(const QString&, const QString&) override { return path; }
    QString path;
};

// Prints what is appended to the receive console, and a progress bar on a terminal.
class ConsoleEcho {
public:
    ConsoleEcho(Control& console, Control& progress, Control& caption);

private:
    void consoleChanged();
    void progressChanged();

    Control& console_;
    Control& progress_;
    Control& caption_;
    qsizetype printed_ = 0;
    int shownValue_ = -1;
    bool tty_;
};
