#include "support/FakeBoardTest.h"

namespace {

struct PanelModelTest : FakeBoardTest {
    void SetUp() override {
        writeFile(dir.path(), "M25P16.sfh", "");
        start(false);
    }
    MainPanelControls& ui() { return h->ui; }
    Session& s() { return h->model.session; }
};

} // namespace

TEST_F(PanelModelTest, ChoosingParallelFlashReconnectsOnlyWhenConnected) {
    ui().mnuBPI.click();
    EXPECT_EQ(port.opens(), 1) << "only the detection scan opened the port";
    ui().btnConnect.click();
    const int opens = port.opens();
    ui().mnuBPI.click();
    EXPECT_EQ(port.opens(), opens + 1);
    s().BpiServerLoading = true;
    ui().mnuBPI.click();
    EXPECT_EQ(port.opens(), opens + 1);
}

// The count field's own filter is crossed by the operator input tests.
TEST_F(PanelModelTest, TheOffsetTakesOnlyHexadecimalDigitsAndAnEmptyOneClearsTheCount) {
    for (const auto& [typed, offset] : {std::pair{"1aF0", "1aF0"}, {"0x10", "0"}, {"12 4", "0"}}) {
        ui().txtOffset.setText(typed);
        EXPECT_EQ(ui().txtOffset.text(), offset) << typed;
    }
    ui().txtPrgBytes.setText("100");
    ui().txtOffset.setText("");
    EXPECT_EQ(ui().txtPrgBytes.text(), "0");
}

TEST_F(PanelModelTest, OperationButtonsCheckTheCountAndAskBeforeStarting) {
    ui().btnConnect.click();
    ui().mnuSPI.click();
    ui().cbFlash.setSelectedIndex(0);
    // An empty file: the count stays 0.
    h->picker.paths << writeFile(dir.path(), "data.bin", {});
    ui().mnuOpenFile.click();
    for (const auto& [button, what] :
         {std::pair{&ui().btnProgram[0], "write"}, {&ui().btnVerify[0], "read"}}) {
        h->prompter.shown.clear();
        button->click();
        EXPECT_EQ(h->prompter.boxes(),
                  QStringList{QString("Warning: Enter bytes to %1 and try again").arg(what)});
        EXPECT_EQ(s().opState.State(), 3);
    }
    ui().txtPrgBytes.setText("10");
    h->prompter.shown.clear();
    h->prompter.answers << Prompter::Answer::No;
    ui().btnProgram[0].click();
    EXPECT_EQ(h->prompter.shown[0].text,
              "The program writes 0x0 to 0x9.\r\nIt is your responsibility to ensure the sectors "
              "you are about to program have been erased.  Is this true?");
    EXPECT_FALSE(ui().hscProgress.visible()) << "No leaves the progress display untouched";
    EXPECT_EQ(s().opState.State(), 3);
}

TEST_F(PanelModelTest, TheDebugPanelOpensOnlyForTheExactCodeAndItsFieldsKeepTheirLastValidValue) {
    EXPECT_FALSE(ui().mnuDebug.visible());
    ui().Image1.doubleClick();
    EXPECT_TRUE(ui().mnuDebug.visible());
    for (const auto& [code, height] :
         {std::pair{"7391 ", 7000}, {"739", 7000}, {"7392", 7000}, {"7391", 11000}}) {
        ui().mnuDebug.click();
        h->model.debugPw.txtDebug.setText(code);
        h->model.debugPw.btnOK.click();
        EXPECT_EQ(ui().MainPanel.height(), height) << code;
    }
    EXPECT_TRUE(h->prompter.shown.isEmpty());

    ui().txtTimeout.setText("25");
    EXPECT_EQ(h->timer.interval(), 25);
    for (const char* bad : {"x", "0", "-5", "70000"}) {
        ui().txtTimeout.setText(bad);
        EXPECT_EQ(s().ackIntervalMs, 25) << bad;
    }
    EXPECT_TRUE(h->prompter.shown.last().text.endsWith("it stays 25."));
    ui().txtTimeoutLimit.setText("9");
    ui().txtTimeoutLimit.setText("32767");
    ui().txtTimeoutLimit.setText("");
    EXPECT_EQ(s().timeoutLimit, 9);
}

// Every operation test chooses its file and takes its count; these are the other ways.
TEST_F(PanelModelTest, AnEmptyFileLeavesTheCountAndACancelledChoiceTheFile) {
    ui().mnuSPI.click();
    h->picker.paths << writeFile(dir.path(), "data.bin", QByteArray(1234, 'x'))
                    << writeFile(dir.path(), "empty.bin", QByteArray());
    ui().Command1.click();
    ui().txtSpiFile.doubleClick();
    EXPECT_EQ(ui().txtSpiFile.text() + " " + ui().txtPrgBytes.text(), "empty.bin 1234");
    ui().mnuOpenFile.click(); // cancelled
    EXPECT_EQ(ui().txtSpiFile.text(), "empty.bin");
}
