#include "app/FileDialogPicker.h"
#include "app/MessageBoxPrompter.h"
#include "app/QtAckTimer.h"
#include "app/Screenshots.h"
#include "app/SingleInstance.h"
#include "app/StyleSheetSkinning.h"
#include "engine/Clock.h"
#include "link/PortDirectory.h"
#include "link/QtSerialPort.h"
#include "panel/MainPanelModel.h"
#include "panel/SavedSettings.h"
#include "panel/ui/MainWindowView.h"

#include <QApplication>
#include <QIcon>
#include <QMainWindow>
#include <QSettings>
#include <cstdio>
#include <cstring>

namespace {
// The whole --help: the man page is made from it.
const char* usage =
    "Usage: zbpu [OPTION]... [QT-OPTION]...\n"
    "The Zelto Board Programming Utility's window: configure the FPGA of a Zelto evaluation\n"
    "board from a bitstream, identify, erase, program, read and verify its SPI flash and its\n"
    "parallel flash, and talk to its board controller in a serial terminal, all over one\n"
    "serial port. zbpu-cli does the same operations from the command line.\n"
    "\n"
    "Options:\n"
    "  -h, --help          this text, then exit\n"
    "  --version           the version, then exit\n"
    "  QT-OPTION           the options every Qt program takes, such as -platform offscreen\n"
    "\n"
    "Environment:\n"
    "  ZBPU_PORTS          colon-separated device paths that stand for the serial ports 1,\n"
    "                      2, ...; without it the USB serial ports (ttyACM*, ttyUSB*) are\n"
    "                      listed\n"
    "\n"
    "Files:\n"
    "  Description files (*.sfh), the BPI server bitstream (bpi_server_v036.bit) and the\n"
    "  skins (Skins/*.urf) are looked for in the program's folder, then in the installed\n"
    "  data folder (share/zbpu beside the program's bin folder: /usr/share/zbpu for\n"
    "  /usr/bin/zbpu), then in ~/.local/share/zbpu, where a user adds description files of\n"
    "  their own. The window remembers its port and line settings, mode, flash device,\n"
    "  files, offsets and counts, size and place in ~/.config/Zelto/zbpu.conf.\n";

// Answered before anything of the window exists, so that they work without a display.
bool answeredInformation(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(usage, stdout);
            return true;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("zbpu %s\n", ZBPU_VERSION);
            return true;
        }
    }
    return false;
}

void nameApplication(QApplication& app, const QString& caption) {
    app.setApplicationName(caption);
    // The desktop entry's icon, also on the window.
    app.setWindowIcon(QIcon(":/zbpu.png"));
    app.setDesktopFileName("zbpu");
}

void wireWindow(MainPanelModel& model, MainWindowView& view) {
    model.setShowModal([&](Control& form, const std::function<void()>& activate) {
        view.showModal(form, activate);
    });
    model.setCloseWindow([&] { view.window()->close(); });
    model.setProcessEvents([] { QCoreApplication::processEvents(); });
}

// Shows the window and runs it, or takes its pictures when shots names a folder.
int runWindow(MainPanelModel& model, MainWindowView& view, SingleInstance& instance,
              const QString& shots) {
    if (shots.isEmpty())
        model.session.stuck.setFile(StuckTransfers::userFile());
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
    return QApplication::exec();
}
} // namespace

int main(int argc, char** argv) {
    if (answeredInformation(argc, argv))
        return 0;
    QApplication app(argc, argv);
    const QString designCaption = "Zelto Board Programming Utility";
    nameApplication(app, designCaption);

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
    wireWindow(model, view);
    return runWindow(model, view, instance, shots);
}
