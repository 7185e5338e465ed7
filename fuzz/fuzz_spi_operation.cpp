// A whole SPI operation on the in-process simulated board, driven by a description file the
// fuzzer writes. However wrong the file, the operation must end within a bounded number of
// timer ticks, the window must come back idle with its buttons, the controller must be let go
// when it was taken, and the operator's data file must stay as it was.
#include "FuzzSupport.h"
#include "panel/MainPanelModel.h"
#include "panel/Skinning.h"
#include "sim/SimulatedPort.h"

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>
#include <fuzzer/FuzzedDataProvider.h>

namespace {

class PathPicker : public FilePicker {
public:
    QString pick(const QString&, const QString&) override { return path; }
    QString path;
};

QByteArray pattern(int size) {
    QByteArray out(size, '\0');
    for (int i = 0; i < size; ++i)
        out[i] = char(i * 7 + 3);
    return out;
}

void save(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    FUZZ_CHECK(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    FUZZ_CHECK(f.write(bytes) == bytes.size());
}

QByteArray load(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

const QByteArray DataFile = pattern(300);

// Connected, in the SPI mode, with the fuzzed description chosen and, for the operations that
// use them, a file and a range.
void choose(MainPanelModel& model, PathPicker& picker, int operation, const QString& file,
            const QString& offset, const QString& count) {
    auto& ui = model.ui;
    ui.btnConnect.click();
    FUZZ_CHECK(ui.btnDisconnect.visible());
    ui.mnuSPI.click();
    const int device = int(ui.cbFlash.items().indexOf("FUZZ"));
    FUZZ_CHECK(device >= 0);
    ui.cbFlash.setSelectedIndex(device);
    if (operation >= 2) {
        picker.path = file;
        ui.mnuOpenFile.click();
        ui.txtOffset.setText(offset);
        ui.txtPrgBytes.setText(count);
    }
}

// A healthy 300-byte operation takes a few thousand ticks; erase and status polls are bounded
// by the file's one-byte poll limits.
void runOut(VirtualClock& clock, ManualAckTimer& timer) {
    int ticks = 0;
    while (timer.isActive() && ticks < 400000) {
        clock.advance(std::int64_t(timer.interval()) * 1000);
        timer.fire();
        ++ticks;
    }
    FUZZ_CHECK(!timer.isActive());
}

// Back idle in the SPI mode, its file closed and its buttons as the mode has them.
void checkEnded(MainPanelModel& model, int operation) {
    auto& ui = model.ui;
    FUZZ_CHECK(model.session.opState.State() == OpStateObj::SpiIdle);
    FUZZ_CHECK(model.spi.State() == 0);
    FUZZ_CHECK(!model.session.file.isOpen());
    FUZZ_CHECK(ui.btnIDecho[0].enabled() && ui.btnBulkErase[0].enabled());
    FUZZ_CHECK(ui.btnProgram[0].enabled() == (operation >= 2));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir folder;
    static const QString dataPath = folder.path() + "/data.bin";
    static const QString readPath = folder.path() + "/out.bin";
    static bool ready = [] {
        save(dataPath, DataFile);
        return true;
    }();
    (void)ready;

    FuzzedDataProvider in(data, size);
    const int operation = in.ConsumeIntegralInRange(0, 4);
    const QString offset = QString::number(in.ConsumeIntegralInRange(0, 0x1FFFFF), 16);
    const QString count = QString::number(in.ConsumeIntegralInRange(1, 300));
    const std::string sfh = in.ConsumeRemainingBytesAsString();
    save(folder.path() + "/FUZZ.sfh", QByteArray::fromStdString(sfh));
    save(readPath, QByteArray(100, 'r'));

    BoardConfig config;
    config.timeScale = 0.001;
    Board board(config);
    VirtualClock clock;
    SimulatedPort port(board, clock);
    ManualAckTimer timer;
    CountingPrompter prompter;
    PathPicker picker;
    NoSkinning skinning;
    MainPanelModel model(port, clock, timer, prompter, picker, skinning,
                         {folder.path(), folder.path()});
    model.startUp();
    choose(model, picker, operation, operation == 3 ? readPath : dataPath, offset, count);
    Control* buttons[] = {&model.ui.btnIDecho[0], &model.ui.btnBulkErase[0],
                          &model.ui.btnProgram[0], &model.ui.btnRead[0], &model.ui.btnVerify[0]};
    Control& button = *buttons[operation];
    FUZZ_CHECK(button.enabled());
    const qsizetype mark = board.commandsSeen().size();
    button.click();
    runOut(clock, timer);
    checkEnded(model, operation);
    FUZZ_CHECK(load(dataPath) == DataFile);
    const QStringList commands = board.commandsSeen().mid(mark);
    if (commands.contains("load_config 1"))
        FUZZ_CHECK(commands.lastIndexOf("load_config 0") > commands.lastIndexOf("load_config 1"));
    return 0;
}
