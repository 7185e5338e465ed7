#include "app/MessageBoxPrompter.h"
#include "support/Doubles.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

TEST(MessageBoxPrompter, TheBoxShowsWhatItIsGivenAndTheButtonPressedIsTheAnswer) {
    using P = Prompter;
    using B = QMessageBox;
    using enum P::Icon;
    const auto Ok = P::Buttons::Ok, OkCancel = P::Buttons::OkCancel, YesNo = P::Buttons::YesNo;
    const struct {
        const char *what, *title;
        P::Icon icon;
        P::Buttons buttons;
        B::StandardButton press; // NoButton: Escape
        P::Answer answer;
        B::Icon shownIcon;
    } cases[] = {
        {"OK", "Application Error", Critical, Ok, B::Ok, P::Answer::Ok, B::Critical},
        {"no title: the program's", "", Exclamation, Ok, B::Ok, P::Answer::Ok, B::Warning},
        {"Cancel of two", "W", Question, OkCancel, B::Cancel, P::Answer::Cancel, B::Question},
        {"Yes", "W", Information, YesNo, B::Yes, P::Answer::Yes, B::Information},
        {"No", "W", Question, YesNo, B::No, P::Answer::No, B::Question},
        {"Escape on Yes and No", "W", Question, YesNo, B::NoButton, P::Answer::No, B::Question},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        QStringList seen;
        QTimer::singleShot(0, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            ASSERT_TRUE(box);
            seen << box->windowTitle() << box->text() << QString::number(box->icon())
                 << QString::number(box->buttons().size());
            t.press ? box->button(t.press)->click() : QTest::keyClick(box, Qt::Key_Escape);
        });
        MessageBoxPrompter prompter;
        EXPECT_EQ(prompter.ask("Error: 53\r\nFile not found\n\r", t.title, t.icon, t.buttons),
                  t.answer);
        EXPECT_EQ(seen, QStringList({*t.title ? QString(t.title) : AppTitle,
                                     "Error: 53\nFile not found\n", QString::number(t.shownIcon),
                                     t.buttons == P::Buttons::Ok ? "1" : "2"}));
    }
}
