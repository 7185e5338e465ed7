#pragma once

#include "engine/Prompter.h"

#include <QList>
#include <QStringList>
#include <functional>
#include <ostream>

// Readable failures for Qt texts.
inline void PrintTo(const QString& s, std::ostream* os) {
    *os << '"' << s.toStdString() << '"';
}
inline void PrintTo(const QByteArray& b, std::ostream* os) {
    *os << b.toHex(' ').toStdString();
}

// Records every message box and answers from a queue (Yes or OK when the queue is empty).
class ScriptedPrompter : public Prompter {
public:
    struct Shown {
        QString text;
        QString title;
        Icon icon;
        Buttons buttons;
    };

    Answer ask(const QString& text, const QString& title, Icon icon, Buttons buttons) override {
        shown.append({text, title, icon, buttons});
        if (onShow)
            onShow();
        if (!answers.isEmpty())
            return answers.takeFirst();
        return buttons == Buttons::YesNo ? Answer::Yes : Answer::Ok;
    }
    QStringList texts() const {
        QStringList out;
        for (const auto& s : shown)
            out << s.text;
        return out;
    }
    // Each box as "title: text".
    QStringList boxes() const {
        QStringList out;
        for (const auto& s : shown)
            out << s.title + ": " + s.text;
        return out;
    }
    QString last() const { return shown.isEmpty() ? QString() : boxes().last(); }
    QStringList titles() const {
        QStringList out;
        for (const auto& s : shown)
            out << s.title;
        return out;
    }

    QList<Shown> shown;
    QList<Answer> answers;
    // The operator's reading time, for tests that care what the board does meanwhile.
    std::function<void()> onShow;
};

// Answers the file dialog from a queue; empty (cancelled) when the queue is empty.
class ScriptedPicker : public FilePicker {
public:
    QString pick(const QString& title, const QString& filter) override {
        asked.append({title, filter});
        return paths.isEmpty() ? QString() : paths.takeFirst();
    }
    QString choose(const Request& r) override {
        folders << r.folder;
        return pick(r.title, r.filter);
    }
    // The folder each dialog opened in.
    QStringList folders;
    QList<QPair<QString, QString>> asked;
    QStringList paths;
};
