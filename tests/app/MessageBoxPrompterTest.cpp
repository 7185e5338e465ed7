#include "app/MessageBoxPrompter.h"

#include <QAbstractButton>
#include <QApplication>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct Seen {
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
};

// Answers the next message box as the operator would, once the box runs.
void answerNextBox(QMessageBox::StandardButton press, Seen& seen) {
    QTimer::singleShot(0, [press, &seen] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box) return;
        seen = {box->windowTitle(), box->text(), box->icon(), int(box->buttons().size())};
        if (press == QMessageBox::NoButton) {
            QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
            QApplication::sendEvent(box, &esc);
        } else {
            box->button(press)->click();
        }
    });
}

} // namespace

TEST(MessageBoxPrompter, TheButtonPressedIsTheAnswer) {
    using P = Prompter;
    const struct {
        const char* what;
        P::Buttons buttons;
        QMessageBox::StandardButton press;
        P::Answer answer;
        int buttonCount;
    } cases[] = {
        {"OK", P::Buttons::Ok, QMessageBox::Ok, P::Answer::Ok, 1},
        {"Cancel of OK and Cancel", P::Buttons::OkCancel, QMessageBox::Cancel, P::Answer::Cancel,
         2},
        {"OK of OK and Cancel", P::Buttons::OkCancel, QMessageBox::Ok, P::Answer::Ok, 2},
        {"Yes", P::Buttons::YesNo, QMessageBox::Yes, P::Answer::Yes, 2},
        {"No", P::Buttons::YesNo, QMessageBox::No, P::Answer::No, 2},
        {"Escape on Yes and No", P::Buttons::YesNo, QMessageBox::NoButton, P::Answer::No, 2},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        MessageBoxPrompter prompter;
        Seen seen;
        answerNextBox(t.press, seen);
        EXPECT_EQ(prompter.ask("Is this true?", "Warning", P::Icon::Question, t.buttons), t.answer);
        EXPECT_EQ(seen.buttons, t.buttonCount);
    }
}

TEST(MessageBoxPrompter, TheBoxShowsTitleIconAndLinesAsGiven) {
    MessageBoxPrompter prompter;
    Seen seen;
    answerNextBox(QMessageBox::Ok, seen);
    prompter.tell("Error: 53\r\nFile not found", "Application Error", Prompter::Icon::Critical);
    EXPECT_EQ(seen.title, "Application Error");
    EXPECT_EQ(seen.text, "Error: 53\nFile not found");
    EXPECT_EQ(seen.icon, QMessageBox::Critical);

    answerNextBox(QMessageBox::Ok, seen);
    prompter.tell("Port failure\n\rCOM3", "", Prompter::Icon::Exclamation);
    EXPECT_EQ(seen.title, AppTitle);
    EXPECT_EQ(seen.text, "Port failure\nCOM3");
    EXPECT_EQ(seen.icon, QMessageBox::Warning);
}
