#include "panel/ui/MainWindowView.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGroupBox>
#include <QImage>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

struct Forms {
    MainPanelControls main;
    CommPropertiesControls comm;
    DebugPWControls debug;
    MainWindowView view{main, comm, debug};
};

// The widget kind a control's name prefix calls for.
bool isOfItsKind(const QString& name, QObject* o) {
    if (name == "txtSendView" || name == "txtRecvView") return qobject_cast<QPlainTextEdit*>(o);
    if (name == "Image1" || name.startsWith("lbl")) return qobject_cast<QLabel*>(o);
    if (name == "BPI_Board" || name == "SendMode" || name == "Frame1")
        return qobject_cast<QGroupBox*>(o);
    if (name.startsWith("btn") || name == "Command1") return qobject_cast<QPushButton*>(o);
    if (name.startsWith("txt")) return qobject_cast<QLineEdit*>(o);
    if (name.startsWith("cb")) return qobject_cast<QComboBox*>(o);
    if (name.startsWith("rb")) return qobject_cast<QRadioButton*>(o);
    if (name.startsWith("chk")) return qobject_cast<QCheckBox*>(o);
    if (name.startsWith("hsc")) return qobject_cast<QProgressBar*>(o);
    if (name.startsWith("mnu")) return qobject_cast<QAction*>(o) || qobject_cast<QMenu*>(o);
    return false;
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
            if (c->name() == root->objectName()) continue;
            QObject* o = root->findChild<QObject*>(c->name());
            EXPECT_TRUE(o && isOfItsKind(c->name(), o)) << c->name().toStdString();
        }
    }
}

TEST(MainWindowView, TheFormsStartAsTheModelSaysAndShowItsFixedText) {
    Forms f;
    QMainWindow* w = f.view.window();
    for (const char* hidden : {"mnuSkin", "mnuDefaultGUI", "mnuDebug"})
        EXPECT_FALSE(w->findChild<QAction*>(hidden)->isVisible()) << hidden;
    EXPECT_TRUE(w->findChild<QAction*>("mnuFPGA")->isChecked());
    EXPECT_EQ(w->findChild<QAction*>("mnuSPI")->shortcut(), QKeySequence("Ctrl+S"));
    EXPECT_TRUE(w->findChild<QPlainTextEdit*>("txtRecvView")->isReadOnly());
    EXPECT_TRUE(w->findChild<QComboBox*>("cbFlash")->isEditable());
    EXPECT_TRUE(w->findChild<QWidget*>("btnDisconnect")->isHidden());
    EXPECT_EQ(w->findChild<QComboBox*>("cbFlash")->currentText(), "None Selected");
    EXPECT_EQ(f.view.dialogOf(f.comm.CommPropertiesPanel)->windowTitle(), "Comm Properties");
    EXPECT_EQ(f.view.dialogOf(f.comm.CommPropertiesPanel)->findChild<QComboBox*>("cbBPS")->count(),
              4);
    EXPECT_EQ(f.view.dialogOf(f.debug.DebugPW)->findChild<QLineEdit*>("txtDebug")->echoMode(),
              QLineEdit::Normal);
}

TEST(MainWindowView, DoubleClickingTheLogoReachesTheModelWhichMayUncoverTheHiddenEntries) {
    Forms f;
    f.main.Image1.onDoubleClick = [&] {
        for (Control* c : {&f.main.mnuDebug, &f.main.mnuDefaultGUI, &f.main.mnuSkin})
            c->setVisible(true);
    };
    auto* logo = f.view.window()->findChild<QLabel*>("Image1");
    const QPointF at(10, 10);
    QMouseEvent dbl(QEvent::MouseButtonDblClick, at, logo->mapToGlobal(at), Qt::LeftButton,
                    Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(logo, &dbl);
    EXPECT_TRUE(f.view.window()->findChild<QAction*>("mnuDebug")->isVisible());
    EXPECT_FALSE(logo->pixmap().isNull());
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
    EXPECT_FALSE(f.comm.CommPropertiesPanel.visible());
}

TEST(MainWindowView, TheOperatorClosingTheDialogHidesItsFormInTheModel) {
    Forms f;
    QDialog* dialog = f.view.dialogOf(f.debug.DebugPW);
    QTimer::singleShot(0, dialog, [&] {
        QKeyEvent esc(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
        QApplication::sendEvent(dialog, &esc);
    });
    f.view.showModal(f.debug.DebugPW);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_FALSE(f.debug.DebugPW.visible());
}

TEST(MainWindowView, ADialogItsActivationClosesDoesNotRun) {
    Forms f;
    bool shownWhenActivated = false;
    f.view.showModal(f.comm.CommPropertiesPanel, [&] {
        shownWhenActivated = f.view.dialogOf(f.comm.CommPropertiesPanel)->isVisible();
        f.comm.CommPropertiesPanel.setVisible(false); // a port scan that found no port
    });                                               // would wait for the operator if it ran
    EXPECT_TRUE(shownWhenActivated);
    EXPECT_FALSE(f.view.dialogOf(f.comm.CommPropertiesPanel)->isVisible());
}

TEST(MainWindowView, ClosingTheMainWindowCallsOnClose) {
    Forms f;
    int closes = 0;
    f.view.onClose = [&] { ++closes; };
    f.view.window()->show();
    f.view.window()->close();
    EXPECT_EQ(closes, 1);
}

TEST(MainWindowView, PicturesOfTheWindowAndTheDialogsAreSaved) {
    Forms f;
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    ASSERT_TRUE(f.view.grabTo(dir.filePath("main.png")));
    ASSERT_TRUE(f.view.grabTo(dir.filePath("comm.png"), f.comm.CommPropertiesPanel));
    EXPECT_EQ(QImage(dir.filePath("main.png")).size(), QSize(f.view.window()->width(), 466));
    EXPECT_EQ(QImage(dir.filePath("comm.png")).size(),
              f.view.dialogOf(f.comm.CommPropertiesPanel)->size());
    EXPECT_FALSE(f.view.grabTo(dir.filePath("none.png"), f.main.btnConnect));
}
