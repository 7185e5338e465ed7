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
#include "panel/ui/MainWindowView.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    const QString designCaption = "Zelto Board Programming Utility";
    app.setApplicationName(designCaption);

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
                         {QCoreApplication::applicationDirPath(), QDir::currentPath()});
    MainWindowView view(model.ui, model.comm, model.debugPw);
    model.setShowModal([&](Control& form, const std::function<void()>& activate) {
        view.showModal(form, activate);
    });
    model.setCloseWindow([&] { view.window()->close(); });
    model.setProcessEvents([] { QCoreApplication::processEvents(); });
    view.onClose = [&] { model.unload(); };
    instance.onRaise = [&] { SingleInstance::bringToFront(view.window()); };

    model.startUp();
    view.window()->show();
    if (!shots.isEmpty())
        return takeScreenshots(model, view, shots) ? 0 : 1;
    return app.exec();
}
