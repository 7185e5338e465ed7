#pragma once

#include "engine/Prompter.h"

#include <QMessageBox>
#include <QPointer>
#include <QWidget>

// Message boxes over the active window (or the given parent).
class MessageBoxPrompter : public Prompter {
public:
    explicit MessageBoxPrompter(QWidget* parent = nullptr)
        : parent_(parent) {}

    Answer ask(const QString& text, const QString& title, Icon icon, Buttons buttons) override;

    // The program's messages break lines with CR LF (or LF CR); a label breaks on LF alone.
    static QString displayText(const QString& text);

private:
    QPointer<QWidget> parent_;
};
