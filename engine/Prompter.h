#pragma once

#include <QString>

// A modal message box, answered with the button pressed.
class Prompter {
public:
    enum class Icon { None, Information, Exclamation, Critical, Question };
    enum class Buttons { Ok, OkCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~Prompter() = default;
    virtual Answer ask(const QString& text, const QString& title, Icon icon, Buttons buttons) = 0;

    void tell(const QString& text, const QString& title, Icon icon) {
        ask(text, title, icon, Buttons::Ok);
    }
};

// The application's title, carried by message boxes that have no title of their own.
inline const QString AppTitle = QStringLiteral("Zelto Board Programming Utility");

// The open-file dialog: a chosen path, or empty when cancelled.
class FilePicker {
public:
    virtual ~FilePicker() = default;
    virtual QString pick(const QString& title, const QString& filter) = 0;

    struct Request {
        QString title;
        QString filter;
        QString folder;        // where the dialog opens; empty for its own choice
        bool mayBeNew = false; // a name that does not exist yet is taken (Read creates it)
    };
    // Pickers without a folder or new names of their own answer as pick does.
    virtual QString choose(const Request& r) { return pick(r.title, r.filter); }
};
