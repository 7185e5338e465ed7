#include "support/FakeBoardTest.h"

namespace {

struct CfgStateObjTest : FakeBoardTest {
    void SetUp() override { start(true); }
    CfgStateObj& cfg() { return h->model.cfg; }
};

} // namespace

TEST_F(CfgStateObjTest, ReportsMissingPinValuesAndStillFinishes) {
    // This controller acknowledges every command but never sends a pin level.
    const QString path = writeFile(dir.path(), "x.bin", QByteArray(128, char(0xFF)));
    h->ui.txtBitFile.setText("x.bin");
    h->ui.txtPath.setText(path);
    h->ui.btnCfgFPGA.click();
    h->runTimer();
    EXPECT_EQ(
        h->prompter.texts(),
        (QStringList{"Bitfile is for a Not recognized device.  Is this correct?",
                     "No value for Init pin (State: WAIT_FOR_INIT)", "No value for Done pin"}));
    EXPECT_EQ(h->prompter.shown[1].title, "ERROR");
    EXPECT_EQ(h->ui.txtRecvView.text(), "Init value is not high.\r\n");
    const QByteArray sent = port.written(1);
    const int at = int(sent.indexOf(QByteArray("ss_program 128\0", 15)));
    ASSERT_GE(at, 0);
    EXPECT_EQ(sent.mid(at + 15, 128), QByteArray(128, char(0xFF)));
    EXPECT_TRUE(sent.endsWith(QByteArray("load_config 0\0fpga_rst 0\0", 25)));
    EXPECT_EQ(cfg().State(), 0);
}
