#include "support/SimHarness.h"

#include "panel/SavedSettings.h"
#include "sim/BitstreamBuilder.h"

#include <QSettings>
#include <gtest/gtest.h>

namespace {

// What one run of the window leaves, the next starts with; the store is a file of the test's
// own, never the user's settings.
struct Store {
    QTemporaryDir home;
    QSettings store{home.filePath("zbpu.ini"), QSettings::IniFormat};
    void save(SimHarness& sim) { SavedSettings(sim.h->model, store).save(); }
    // The next run of the window, started with what was saved.
    std::unique_ptr<SimHarness> next() {
        auto sim = std::make_unique<SimHarness>();
        sim->h->model.startUp();
        SavedSettings(sim->h->model, store).restore();
        return sim;
    }
};

} // namespace

TEST(SavedSettings, TheNextRunStartsAsTheLastOneEnded) {
    Store kept;
    SimHarness sim;
    sim.startAndConnect();
    auto& ui = sim.h->ui;
    sim.h->model.comm.cbBPS.setSelectedIndex(2);
    sim.h->model.comm.cbParity.setSelectedIndex(1);
    ui.mnuFPGA.click();
    const QString bit = sim.choose("design.bit", buildBitFile(buildConfigPayload({.size = 3000})));
    ui.mnuBPI.click();
    QDir().mkpath(sim.path("images"));
    const QString bpiFile = sim.choose("images/bpi.bin", randomBytes(64, 1));
    ui.txtOffset.setText("1000");
    ui.txtPrgBytes.setText("32");
    ui.mnuSPI.click();
    ui.cbFlash.setSelectedIndex(int(ui.cbFlash.items().indexOf("W25Q64")));
    const QString spiFile = sim.path("new.bin"); // for Read to create
    sim.h->picker.paths << spiFile;
    ui.mnuOpenFile.click();
    ui.txtOffset.setText("F0");
    ui.txtPrgBytes.setText("256");
    ui.chkFastAck.setChecked(false);
    ui.chkFastAck.click();
    ui.chkFlashSteps.setChecked(true);
    kept.save(sim);

    const auto next = kept.next();
    auto& ui2 = next->h->ui;
    EXPECT_TRUE(ui2.mnuSPI.checked() && ui2.chkFlashSteps.checked());
    EXPECT_FALSE(ui2.chkFastAck.checked() || next->h->model.session.fastAck);
    EXPECT_EQ(QStringList({ui2.cbFlash.selectedItem(), ui2.txtSpiFile.text(), ui2.txtPath.text(),
                           ui2.txtOffset.text(), ui2.txtPrgBytes.text(), ui2.txtBitFile.text(),
                           ui2.txtBpiFile.text(), next->port.settings()}),
              QStringList({"W25Q64", "new.bin", spiFile, "F0", "256", "design.bit", "bpi.bin",
                           "57600,O,8,1"}));
    // Each mode has its own file, and each flash mode its own range.
    ui2.mnuBPI.click();
    EXPECT_EQ(QStringList({ui2.txtPath.text(), ui2.txtOffset.text(), ui2.txtPrgBytes.text()}),
              QStringList({bpiFile, "1000", "32"}));
    ui2.mnuFPGA.click();
    EXPECT_EQ(ui2.txtPath.text(), bit);
}

// A count is remembered with its file's size and time: over a file that has changed since it
// would program part of a rebuilt image and call it a success, so that file gets its own length.
TEST(SavedSettings, ARememberedCountHoldsOnlyForTheSameUnchangedFile) {
    const struct {
        const char* what;
        bool bpi;
        int size, laterS; // the file rebuilt with this size, this much later; 0 as it was; -1 gone
        QString bytes;
    } cases[] = {{"unchanged", false, 0, 0, "256"},
                 {"rebuilt longer", false, 3000, 0, "3000"},
                 {"rebuilt shorter", false, 500, 0, "500"},
                 {"the same size, rebuilt later", false, 1000, 3600, "1000"},
                 {"gone: a file for Read to create", false, -1, 0, "0"},
                 {"parallel flash, unchanged", true, 0, 0, "256"},
                 {"parallel flash, rebuilt longer", true, 3000, 0, "3000"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Store store;
        SimHarness sim;
        sim.h->model.startUp();
        (c.bpi ? sim.h->ui.mnuBPI : sim.h->ui.mnuSPI).click();
        const QString image = sim.choose("image.bin", randomBytes(1000, 2));
        sim.h->ui.txtOffset.setText("F0");
        sim.h->ui.txtPrgBytes.setText("256");
        store.save(sim);
        if (c.size < 0)
            QFile::remove(image);
        if (c.size > 0) {
            writeFile(sim.dir.path(), "image.bin", randomBytes(c.size, 9));
            QFile f(image);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            f.setFileTime(QDateTime::currentDateTime().addSecs(c.laterS),
                          QFileDevice::FileModificationTime);
        }
        const auto next = store.next();
        const auto& ui = next->h->ui;
        EXPECT_EQ(QStringList({ui.txtPath.text(), ui.txtOffset.text(), ui.txtPrgBytes.text()}),
                  QStringList({image, "F0", c.bytes}));
    }
}

// A read's target is not the next run's file to program, and the read's count is not taken
// for the image remembered instead.
TEST(SavedSettings, ARunThatEndsWithAReadRemembersTheImageAndItsOwnLength) {
    Store store;
    SimHarness sim;
    sim.startAndConnect();
    auto& ui = sim.h->ui;
    ui.mnuSPI.click();
    ui.cbFlash.setSelectedIndex(int(ui.cbFlash.items().indexOf("M25P16")));
    const QString image = sim.choose("image.bin", randomBytes(3000, 2));
    sim.press(ui.btnProgram[0]);
    sim.h->picker.paths << sim.path("dump.bin");
    ui.mnuOpenFile.click();
    ui.txtPrgBytes.setText("1000");
    sim.press(ui.btnRead[0]);
    ASSERT_EQ(readFile(sim.path("dump.bin")).size(), 1000);
    store.save(sim);
    const auto next = store.next();
    EXPECT_EQ(next->h->ui.txtPath.text() + " " + next->h->ui.txtPrgBytes.text(), image + " 3000");
}

// A store from before each flash mode had its own range: its one offset and count are the SPI
// mode's, the count only where no file is there to give its length (nothing tells whether it
// changed); the next save writes the SPI mode's own keys instead.
TEST(SavedSettings, AnOldStoresSingleOffsetAndCountAreTheSpiModes) {
    for (const bool imageThere : {false, true}) {
        SCOPED_TRACE(imageThere ? "an image" : "a file for Read to create");
        const QString bytes = imageThere ? "1000" : "256";
        Store kept;
        QSettings& store = kept.store;
        SimHarness sim;
        const QString image = sim.path("image.bin");
        if (imageThere)
            writeFile(sim.dir.path(), "image.bin", randomBytes(1000, 3));
        store.setValue("mode", "spi");
        store.setValue("files/spi", image);
        store.setValue("offset", "F0");
        store.setValue("bytes", "256");
        sim.h->model.startUp();
        SavedSettings saved(sim.h->model, store);
        saved.restore();
        EXPECT_EQ(sim.h->ui.txtOffset.text() + " " + sim.h->ui.txtPrgBytes.text(), "F0 " + bytes);
        saved.save();
        EXPECT_FALSE(store.contains("offset") || store.contains("bytes"));
        EXPECT_EQ(store.value("spi/offset").toString() + " " + store.value("spi/bytes").toString(),
                  "F0 " + bytes);
    }
}
