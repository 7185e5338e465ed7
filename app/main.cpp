#include "app/FileDialogPicker.h"
#include "app/MessageBoxPrompter.h"
#include "app/QtAckTimer.h"
#include "app/Screenshots.h"
#include "app/SingleInstance.h"
#include "app/StyleSheetSkinning.h"
#include "link/Clock.h"
#include "link/PortDirectory.h"
#include "link/QtSerialPort.h"
#include "panel/MainPanelModel.h"
#include "panel/SavedSettings.h"
#include "panel/ui/MainWindowView.h"

#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QSettings>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString designCaption = "Zelto Board Programming Utility";
    app.setApplicationName(designCaption);
    // The desktop entry's icon, also on the window.
    app.setWindowIcon(QIcon(":/zbpu.png"));
    app.setDesktopFileName("zbpu");

    SingleInstance instance;
    if (!instance.tryLock()) {
        MessageBoxPrompter prompter;
        prompter.tell(designCaption + " is already running", "Warning",
                      Prompter::Icon::Information);
        instance.raiseRunning();
        return 0;
    }

    const PortDirectory ports = PortDirectory::fromEnvironment();
    QtSerialPort port(ports);
    SystemClock clock;
    QtAckTimer timer;
    const QString shots = qEnvironmentVariable("ZBPU_SCREENSHOT_DIR");
    MessageBoxPrompter boxes;
    QuietPrompter quiet;
    Prompter& prompter = shots.isEmpty() ? static_cast<Prompter&>(boxes) : quiet;
    FileDialogPicker picker;
    StyleSheetSkinning skinning;
    MainPanelModel model(port, clock, timer, prompter, picker, skinning,
                         DataFolders::forProgram(QCoreApplication::applicationDirPath()));
    MainWindowView view(model.ui, model.comm, model.debugPw);
    model.setShowModal([&](Control& form, const std::function<void()>& activate) {
        view.showModal(form, activate);
    });
    model.setCloseWindow([&] { view.window()->close(); });
    model.setProcessEvents([] { QCoreApplication::processEvents(); });
    // Pictures show the window as a first run has it; otherwise it is as the last run left it.
    const bool remember = shots.isEmpty();
    QSettings store("Zelto", "zbpu");
    SavedSettings saved(model, store);
    saved.saveGeometry = [&] { return view.window()->saveGeometry(); };
    saved.restoreGeometry = [&](const QByteArray& g) { view.window()->restoreGeometry(g); };
    view.onClose = [&] {
        if (remember)
            saved.save();
        model.unload();
    };
    instance.onRaise = [&] { SingleInstance::bringToFront(view.window()); };

    model.startUp();
    if (remember)
        saved.restore();
    view.window()->show();
    if (!shots.isEmpty())
        return takeScreenshots(model, view, shots) ? 0 : 1;
    return app.exec();
}
