#include "SimHarness.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <stdexcept>

SimHarness::SimHarness(BoardConfig config)
    : board(config)
    , port(board, clock, 1) {
    const QDir bin(ZBPU_BIN_DIR);
    for (const QString& f : bin.entryList({"*.sfh", "bpi_server_*.bit"}, QDir::Files))
        QFile::copy(bin.filePath(f), dir.path() + "/" + f);
    h = std::make_unique<PanelHarness>(port, clock, dir.path());
}

void SimHarness::setReadingTime(int ms) {
    h->prompter.onShow = [this, ms] { clock.advance(std::int64_t(ms) * 1000); };
}

void SimHarness::startAndConnect() {
    h->model.startUp();
    h->prompter.shown.clear();
    h->ui.btnConnect.click();
}

QString SimHarness::choose(const QString& name, const QByteArray& bytes) {
    const QString path = writeFile(dir.path(), name, bytes);
    h->picker.paths << path;
    h->ui.mnuOpenFile.click();
    return path;
}

void SimHarness::press(Control& button) {
    ASSERT_TRUE(button.enabled()) << button.name().toStdString();
    button.click();
    h->runTimer();
}

Control& SimHarness::control(const QString& name) const {
    for (Control* c : h->ui.all())
        if (c->name() == name)
            return *c;
    throw std::invalid_argument(name.toStdString());
}
