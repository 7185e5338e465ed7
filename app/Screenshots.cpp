#include "app/Screenshots.h"

#include "panel/MainPanelModel.h"
#include "panel/ui/MainWindowView.h"

#include <QCoreApplication>
#include <QDir>
#include <QMainWindow>

static void settle() {
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
}

bool takeScreenshots(MainPanelModel& model, MainWindowView& view, const QString& folder) {
    QDir().mkpath(folder);
    auto& ui = model.ui;
    bool ok = true;
    // The port list as Options | Comm shows it: each port by its system name.
    model.portSettings.Activate();
    settle();
    ok &= view.grabTo(folder + "/comm-ports.png", model.comm.CommPropertiesPanel);
    ui.btnConnect.click();
    settle();
    ok &= view.grabTo(folder + "/fpga-layout.png");
    ui.mnuSPI.click();
    if (!ui.cbFlash.items().isEmpty())
        ui.cbFlash.setSelectedIndex(int(ui.cbFlash.items().indexOf("M25P16")));
    ui.txtSpiFile.setText("firmware.bin");
    ui.txtPrgBytes.setText("262144");
    ui.txtOffset.setText("F0");
    ui.txtRecvView.setText(
        "20 20 15 \r\nSPI programming successful: 0xF0 to 0x400EF \r\nSPI data validated \r\n");
    settle();
    ok &= view.grabTo(folder + "/spi-layout.png");
    // The same window at its smallest and on a large screen: the consoles take the room.
    QMainWindow* window = view.window();
    const QSize usual = window->size();
    ui.txtSendView.setText("help\r\nget_ver\r\n");
    ui.lblStatus.setText("SPI Program: successful in 24.1 s");
    for (const auto& [name, size] : {std::pair{"window-small", window->minimumSizeHint()},
                                     std::pair{"window-large", QSize(1240, 820)}}) {
        window->resize(size);
        settle();
        ok &= view.grabTo(folder + "/" + name + ".png");
    }
    window->resize(usual);
    ui.txtSendView.setText("");
    ui.lblStatus.setText("");
    ui.mnuBPI.click();
    ui.txtBpiFile.setText("image.bin");
    settle();
    ok &= view.grabTo(folder + "/bpi-layout.png");
    ui.Image1.doubleClick();
    ui.MainPanel.setHeight(11000);
    settle();
    ok &= view.grabTo(folder + "/debug-panel.png");
    model.unload();
    return ok;
}
