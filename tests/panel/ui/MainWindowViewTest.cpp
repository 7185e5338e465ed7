#include "support/SimHarness.h"

#include "app/StyleSheetSkinning.h"
#include "panel/ui/MainWindowView.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct Forms {
    MainPanelControls main;
    CommPropertiesControls comm;
    DebugPWControls debug;
    MainWindowView view{main, comm, debug};
};

// The widget class a control's name calls for.
const char* kindFor(const QString& n, QObject* o) {
    return n == "txtSendView" || n == "txtRecvView"               ? "QPlainTextEdit"
           : n == "Image1" || n.startsWith("lbl")                 ? "QLabel"
           : n == "BPI_Board" || n == "SendMode" || n == "Frame1" ? "QGroupBox"
           : n.startsWith("btn") || n == "Command1"               ? "QPushButton"
           : n.startsWith("txt")                                  ? "QLineEdit"
           : n.startsWith("cb")                                   ? "QComboBox"
           : n.startsWith("rb")                                   ? "QRadioButton"
           : n.startsWith("chk")                                  ? "QCheckBox"
           : n.startsWith("hsc")                                  ? "QProgressBar"
           : n.startsWith("mnu") ? (o->inherits("QMenu") ? "QMenu" : "QAction")
                                 : "no widget kind";
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

void settle(QWidget* window) {
    window->show();
    QApplication::processEvents();
}

} // namespace

TEST(MainWindowView, EveryControlOfTheThreeModelsHasAWidgetOfItsKindInItsForm) {
    Forms f;
    const std::pair<QWidget*, std::vector<Control*>> forms[] = {
        {f.view.window(), f.main.all()},
        {f.view.dialogOf(f.comm.CommPropertiesPanel), f.comm.all()},
        {f.view.dialogOf(f.debug.DebugPW), f.debug.all()},
    };
    for (const auto& [root, controls] : forms) {
        ASSERT_TRUE(root);
        for (Control* c : controls) {
            QObject* o = root->findChild<QObject*>(c->name());
            EXPECT_TRUE(c->name() == root->objectName() ||
                        (o && o->inherits(kindFor(c->name(), o))))
                << c->name().toStdString();
        }
    }
}

TEST(MainWindowView, AModelThatHidesTheDialogEndsItsModalRun) {
    Forms f;
    QDialog* dialog = f.view.dialogOf(f.comm.CommPropertiesPanel);
    f.comm.btnOK.onClick = [&] { f.comm.CommPropertiesPanel.setVisible(false); };
    bool shownDuringRun = false;
    QTimer::singleShot(0, dialog, [&] {
        shownDuringRun = dialog->isVisible() && f.comm.CommPropertiesPanel.visible();
        dialog->findChild<QPushButton*>("btnOK")->click();
    });
    f.view.showModal(f.comm.CommPropertiesPanel);
    EXPECT_TRUE(shownDuringRun);
    EXPECT_FALSE(dialog->isVisible());
}

// With ZBPU_UI_PREVIEW_DIR set, also saves a picture of each skin, mode and dialog there.
TEST(MainWindowView, NoTwoControlsShownInAModeOverlapAndNoCaptionIsClipped) {
    const QString previews = qEnvironmentVariable("ZBPU_UI_PREVIEW_DIR");
    QDir().mkpath(previews);
    for (const QString skin : {"plain", "belv", "gtclassicex"}) {
        StyleSheetSkinning skinning;
        ASSERT_TRUE(skin == "plain" ||
                    skinning.skinStart(ZBPU_SOURCE_DIR "/skins/" + skin + ".urf", 2));
        for (bool connected : {false, true}) {
            SimHarness sim;
            if (connected)
                sim.startAndConnect();
            MainPanelControls& ui = sim.h->ui;
            MainWindowView view(ui, sim.h->model.comm, sim.h->model.debugPw);
            for (Control* mode : {&ui.mnuFPGA, &ui.mnuSPI, &ui.mnuBPI}) {
                const QString name =
                    QString("%1-%2-%3").arg(skin, mode->name(), connected ? "on" : "off");
                SCOPED_TRACE(name.toStdString());
                mode->click();
                ui.btnConnect.setText("Connect to COM99"); // the longest captions
                ui.btnDisconnect.setText("Disconnect from COM99");
                ui.lblProgress.setText("BPI Programming Progress 100% done");
                ui.lblProgress.setVisible(true);
                ui.hscProgress.setVisible(true);
                settle(view.window());
                QWidget* panel = view.window()->centralWidget();
                QList<QWidget*> shown; // group boxes stand for their contents
                for (QWidget* w : panel->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
                    if (w->isVisibleTo(panel) && !w->objectName().isEmpty())
                        shown << w;
                for (int i = 0; i < shown.size(); ++i)
                    for (int j = i + 1; j < shown.size(); ++j)
                        EXPECT_FALSE(shown[i]->geometry().intersects(shown[j]->geometry()))
                            << shown[i]->objectName().toStdString() << " overlaps "
                            << shown[j]->objectName().toStdString();
                for (QWidget* w : panel->findChildren<QWidget*>())
                    EXPECT_TRUE(!w->isVisibleTo(panel) || captionFits(w))
                        << w->objectName().toStdString();
                EXPECT_TRUE(previews.isEmpty() || view.grabTo(previews + "/" + name + ".png"));
            }
            for (Control* form :
                 {&sim.h->model.comm.CommPropertiesPanel, &sim.h->model.debugPw.DebugPW}) {
                QDialog* d = view.dialogOf(*form);
                settle(d);
                for (QWidget* w : d->findChildren<QWidget*>())
                    EXPECT_TRUE(captionFits(w)) << w->objectName().toStdString();
                d->hide();
                EXPECT_TRUE(
                    previews.isEmpty() ||
                    view.grabTo(previews + "/" + skin + "-" + form->name() + ".png", *form));
            }
        }
        skinning.skinRemove();
    }
}
