#include "ModeLayouts.h"
#include "app/StyleSheetSkinning.h"
#include "panel/ui/MainWindowView.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QPushButton>
#include <gtest/gtest.h>

namespace {

struct Forms {
    MainPanelControls main;
    CommPropertiesControls comm;
    DebugPWControls debug;
    MainWindowView view{main, comm, debug};

    QWidget* central() const { return view.window()->centralWidget(); }
    QWidget* widget(const char* name) const { return view.window()->findChild<QWidget*>(name); }
};

void settle(QWidget* window) {
    window->show();
    QApplication::processEvents();
}

// Widgets shown directly on the panel (group boxes stand for their contents).
QList<QWidget*> shownOnPanel(QWidget* central) {
    QList<QWidget*> shown;
    for (QWidget* w : central->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisibleTo(central) && !w->objectName().isEmpty()) shown << w;
    return shown;
}

// Push buttons ask for a minimum width beyond their caption, so their caption is measured
// against the padding and border the skins give them.
bool captionFits(QWidget* w) {
    if (auto* label = qobject_cast<QLabel*>(w); label && label->pixmap().isNull())
        return label->sizeHint().width() <= label->width();
    if (auto* button = qobject_cast<QPushButton*>(w))
        return button->fontMetrics().horizontalAdvance(button->text()) + 14 <= button->width();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->sizeHint().width() <= button->width();
    if (auto* box = qobject_cast<QGroupBox*>(w))
        return box->fontMetrics().horizontalAdvance(box->title()) + 16 <= box->width();
    return true;
}

QStringList skinFiles() {
    return {QString(), ZBPU_SOURCE_DIR "/skins/belv.urf", ZBPU_SOURCE_DIR "/skins/gtclassicex.urf"};
}

} // namespace

TEST(MainPanelLayout, NoTwoControlsShownInAModeOverlapAndNoCaptionIsClipped) {
    for (const QString& skin : skinFiles()) {
        StyleSheetSkinning skinning;
        if (!skin.isEmpty()) {
            ASSERT_TRUE(skinning.skinStart(skin, 2));
        }
        for (Mode mode : {Mode::Fpga, Mode::Spi, Mode::Bpi}) {
            SCOPED_TRACE(QString("%1 %2").arg(modeName(mode), skin).toStdString());
            Forms f;
            arrange(f.main, mode);
            useLongestCaptions(f.main);
            f.main.lblProgress.setVisible(true);
            f.main.hscProgress.setVisible(true);
            for (bool connected : {false, true}) {
                f.main.btnConnect.setVisible(!connected);
                f.main.btnDisconnect.setVisible(connected);
                settle(f.view.window());
                const QList<QWidget*> shown = shownOnPanel(f.central());
                for (int i = 0; i < shown.size(); ++i) {
                    EXPECT_TRUE(captionFits(shown[i])) << shown[i]->objectName().toStdString();
                    for (int j = i + 1; j < shown.size(); ++j)
                        EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                            << shown[i]->objectName().toStdString() << " overlaps "
                            << shown[j]->objectName().toStdString();
                }
                for (auto* child : f.central()->findChildren<QAbstractButton*>())
                    if (child->parentWidget() != f.central()) {
                        EXPECT_TRUE(captionFits(child)) << child->objectName().toStdString();
                    }
            }
        }
        skinning.skinRemove();
    }
}

TEST(MainPanelLayout, TheDebugFieldsShowOnlyInTheTallerWindow) {
    Forms f;
    settle(f.view.window());
    const char* debugFields[] = {"txtTimeout", "txtTimeoutLimit", "txtSleep",
                                 "txtMaxPsoc", "txtMaxSpiPoll",   "txtBpiBurstSize",
                                 "txtPath",    "txtFilelen",      "chkFastAck"};
    const char* lowestNormal[] = {"txtSendView", "txtRecvView", "SendMode", "Frame1", "btnClr_1"};
    EXPECT_EQ(f.view.window()->height(), 7000 / 15);
    for (const char* name : lowestNormal)
        EXPECT_LE(f.widget(name)->geometry().bottom(), f.central()->height()) << name;
    for (const char* name : debugFields)
        EXPECT_GE(f.widget(name)->geometry().top(), f.central()->height()) << name;

    f.main.MainPanel.setHeight(11000);
    QApplication::processEvents();
    EXPECT_EQ(f.view.window()->height(), 11000 / 15);
    for (const char* name : debugFields)
        EXPECT_LE(f.widget(name)->geometry().bottom(), f.central()->height()) << name;
}

TEST(MainPanelLayout, DialogCaptionsAreNotClipped) {
    Forms f;
    for (QDialog* d :
         {f.view.dialogOf(f.comm.CommPropertiesPanel), f.view.dialogOf(f.debug.DebugPW)}) {
        d->show();
        QApplication::processEvents();
        for (QWidget* w : d->findChildren<QWidget*>())
            EXPECT_TRUE(captionFits(w)) << w->objectName().toStdString();
        d->hide();
    }
}

// With ZBPU_UI_PREVIEW_DIR set, saves a picture of each mode and dialog there to look at.
TEST(MainPanelLayout, PreviewPicturesAreSavedWhenAskedFor) {
    const QString dir = qEnvironmentVariable("ZBPU_UI_PREVIEW_DIR");
    if (dir.isEmpty()) GTEST_SKIP() << "set ZBPU_UI_PREVIEW_DIR to save preview pictures";
    QDir().mkpath(dir);
    const QString skins[] = {QString(), ZBPU_SOURCE_DIR "/skins/belv.urf",
                             ZBPU_SOURCE_DIR "/skins/gtclassicex.urf"};
    const char* skinNames[] = {"plain", "belv", "gtclassicex"};
    for (int s = 0; s < 3; ++s) {
        StyleSheetSkinning skinning;
        if (!skins[s].isEmpty()) {
            ASSERT_TRUE(skinning.skinStart(skins[s], 2));
        }
        for (Mode mode : {Mode::Fpga, Mode::Spi, Mode::Bpi}) {
            Forms f;
            arrange(f.main, mode);
            f.main.rbTransmitMode[1].setChecked(true);
            f.main.rbRecvMode[0].setChecked(true);
            if (mode != Mode::Fpga) {
                f.main.btnConnect.setVisible(false);
                f.main.btnDisconnect.setText("Disconnect from COM3");
                f.main.btnDisconnect.setVisible(true);
                f.main.lblProgress.setText(mode == Mode::Spi ? "SPI Programming 45% done"
                                                             : "BPI Programming Progress 45% done");
                f.main.lblProgress.setVisible(true);
                f.main.hscProgress.setVisible(true);
                f.main.hscProgress.setValue(45);
                f.main.cbFlash.addItem("M25P16");
                f.main.cbFlash.setSelectedIndex(0);
                f.main.txtRecvView.setText("SPI ID: 20 20 15\r\n> ");
            }
            settle(f.view.window());
            const QString base = QString("%1/%2-%3").arg(dir, skinNames[s], modeName(mode));
            EXPECT_TRUE(f.view.grabTo(base + ".png"));
            if (mode == Mode::Fpga) {
                f.main.MainPanel.setHeight(11000);
                settle(f.view.window());
                EXPECT_TRUE(f.view.grabTo(base + "-debug.png"));
                f.comm.cbCom.addItem("COM3");
                f.comm.cbCom.setSelectedIndex(0);
                f.comm.cbBPS.setSelectedIndex(3);
                EXPECT_TRUE(f.view.grabTo(QString("%1/%2-comm.png").arg(dir, skinNames[s]),
                                          f.comm.CommPropertiesPanel));
                EXPECT_TRUE(f.view.grabTo(QString("%1/%2-debugpw.png").arg(dir, skinNames[s]),
                                          f.debug.DebugPW));
            }
        }
        skinning.skinRemove();
    }
}
