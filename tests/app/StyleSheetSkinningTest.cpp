#include "app/StyleSheetSkinning.h"

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QMainWindow>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

QString writeFile(const QTemporaryDir& dir, const char* name, const QByteArray& content) {
    QFile f(dir.filePath(name));
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return f.fileName();
}

QStringList parseComplaints;
void collectComplaints(QtMsgType, const QMessageLogContext&, const QString& msg) {
    if (msg.contains("parse", Qt::CaseInsensitive)) parseComplaints << msg;
}

} // namespace

TEST(StyleSheetSkinning, ASkinStartsOnlyFromAFileThatHoldsASheet) {
    QTemporaryDir dir;
    const struct {
        const char* what;
        QString path;
        bool started;
    } cases[] = {
        {"a missing file", dir.filePath("missing.urf"), false},
        {"an empty file", writeFile(dir, "empty.urf", ""), false},
        {"a blank file", writeFile(dir, "blank.urf", " \n\t\n"), false},
        {"a style sheet", writeFile(dir, "blue.urf", "QPushButton { color: blue; }"), true},
    };
    for (const auto& t : cases) {
        SCOPED_TRACE(t.what);
        StyleSheetSkinning skinning;
        EXPECT_EQ(skinning.skinStart(t.path, 2), t.started);
        EXPECT_EQ(qApp->styleSheet().isEmpty(), !t.started);
        skinning.skinRemove();
    }
}

TEST(StyleSheetSkinning, ThePlainLookClearsTheSkinAndAFailedStartKeepsTheOneInForce) {
    QTemporaryDir dir;
    StyleSheetSkinning skinning;
    ASSERT_TRUE(skinning.skinStart(writeFile(dir, "a.urf", "QLabel { color: red; }"), 2));
    EXPECT_FALSE(skinning.skinStart(dir.filePath("gone.urf"), 2));
    EXPECT_EQ(qApp->styleSheet(), "QLabel { color: red; }");
    EXPECT_TRUE(skinning.skinStart("", 0));
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
    EXPECT_TRUE(skinning.current().isEmpty());
}

TEST(StyleSheetSkinning, AWindowSkinnedOnItsOwnReturnsToTheApplicationsSkinLater) {
    QTemporaryDir dir;
    const QString a = writeFile(dir, "a.urf", "QPushButton { color: red; }");
    const QString b = writeFile(dir, "b.urf", "QPushButton { color: green; }");
    QMainWindow window;
    window.setObjectName("MainPanel");
    (new QPushButton(&window))->setObjectName("btnConnect");
    StyleSheetSkinning skinning;
    ASSERT_TRUE(skinning.skinStart(a, 2));

    skinning.skinWindowSetEx("btnConnect", a);
    EXPECT_TRUE(window.styleSheet().isEmpty()); // the same skin: polished again only
    skinning.skinWindowSetEx("btnConnect", b);
    EXPECT_EQ(window.styleSheet(), "QPushButton { color: green; }");
    skinning.skinRemove();
    EXPECT_TRUE(window.styleSheet().isEmpty());
    EXPECT_TRUE(qApp->styleSheet().isEmpty());
}

TEST(StyleSheetSkinning, TheShippedSkinsAreStyleSheetsQtAccepts) {
    for (const char* path :
         {ZBPU_SOURCE_DIR "/skins/belv.urf", ZBPU_SOURCE_DIR "/skins/gtclassicex.urf"}) {
        SCOPED_TRACE(path);
        StyleSheetSkinning skinning;
        ASSERT_TRUE(skinning.skinStart(path, 2));
        parseComplaints.clear();
        const QtMessageHandler previous = qInstallMessageHandler(collectComplaints);
        QMainWindow window;
        new QPlainTextEdit(&window);
        new QComboBox(&window);
        window.show();
        QApplication::processEvents();
        qInstallMessageHandler(previous);
        EXPECT_TRUE(parseComplaints.isEmpty()) << parseComplaints.join("\n").toStdString();
        skinning.skinRemove();
    }
}
