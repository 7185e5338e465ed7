#include "app/FileDialogPicker.h"

#include <QDir>
#include <QFileDialog>
#include <QTemporaryDir>
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

TEST(FileDialogPicker, OpensInTheGivenFolderAndTakesANewNameWhenAllowed) {
    QTemporaryDir dir;
    FileDialogPicker picker;
    QString shownIn;
    picker.onShown = [&](QFileDialog& d) {
        shownIn = d.directory().absolutePath();
        d.selectFile(dir.filePath("new.bin"));
        static_cast<QDialog&>(d).accept(); // QFileDialog checks the name, as for the operator
    };
    const QString chosen =
        picker.choose({"Select SPI File", "All Files (*.*)|*.*||", dir.path(), true});
    EXPECT_EQ(shownIn, QDir(dir.path()).absolutePath());
    EXPECT_EQ(chosen, QDir(dir.path()).absoluteFilePath("new.bin"));
    EXPECT_FALSE(QFile::exists(chosen));
}
