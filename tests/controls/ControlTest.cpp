#include "controls/MainPanelControls.h"

#include <gtest/gtest.h>

TEST(Control, ChangeHandlerRunsOnlyWhenTheTextDiffersAndMayReenter) {
    Control field{"txtPrgBytes", "0"};
    int calls = 0;
    field.onChange = [&] {
        ++calls;
        if (field.text().isEmpty())
            field.setText("0");
    };
    field.setText("0");
    EXPECT_EQ(calls, 0);
    field.setText("");
    EXPECT_EQ(field.text(), "0");
    EXPECT_EQ(calls, 2);
}

TEST(Control, EveryControlOfTheMainWindowHasAUniqueName) {
    MainPanelControls ui;
    QStringList names;
    for (auto* c : ui.all())
        names << c->name();
    EXPECT_EQ(names.removeDuplicates(), 0);
    EXPECT_GT(names.size(), 70);
}
