#include "app/StyleSheetSkinning.h"

#include <QApplication>
#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(StyleSheetSkinning, ASkinStartsOnlyFromAFileThatHoldsASheet) {
    QTemporaryDir dir;
    const struct {
        const char *what, *content; // null: no file
        bool started;
    } cases[] = {
        {"a missing file", nullptr, false},
        {"an empty file", "", false},
        {"a style sheet", "QPushButton { color: blue; }", true},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        QFile file(dir.filePath(t.what));
        ASSERT_TRUE(!t.content || (file.open(QIODevice::WriteOnly) && file.write(t.content) >= 0));
        file.close();
        StyleSheetSkinning skinning;
        EXPECT_EQ(skinning.skinStart(file.fileName(), 2), t.started);
        EXPECT_EQ(qApp->styleSheet().toStdString(), t.started ? t.content : "");
        skinning.skinRemove();
    }
}
