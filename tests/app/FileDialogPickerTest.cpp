#include "app/FileDialogPicker.h"

#include <gtest/gtest.h>

TEST(FileDialogPicker, TheProgramsFiltersBecomeQtFilters) {
    const struct {
        const char *what, *filter, *qt;
    } cases[] = {
        {"a bit file filter with a blank before its pattern", "Bit Files (*.bit)| *.bit",
         "Bit Files (*.bit)"},
        {"flash filters: several patterns, trailing blank, empty pairs at the end",
         "Bitstreams (*.bit,*.bin)| *.bit;*.bin|Software (*.elf,*.srec,*.bin) "
         "|*.elf;*.srec;*.bin|All Files (*.*)|*.*||",
         "Bitstreams (*.bit *.bin);;Software (*.elf *.srec *.bin);;All Files (*)"},
        {"a description without its own patterns", "Images|*.png", "Images (*.png)"},
        {"no filter at all", "", ""},
        {"a description with no pattern after it", "Bit Files (*.bit)", ""},
    };
    for (const auto& t : cases)
        EXPECT_EQ(toQtFilter(t.filter).toStdString(), t.qt) << t.what;
}
