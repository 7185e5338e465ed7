// Unprotecting the chip, the write enable before every erase and page, and the erases: whole
// chip or sector by sector.
#include "spi/SpiStateObj.h"

#include "engine/Conversions.h"
#include "spi/SpiText.h"

using namespace spitext;

// Announced with "sf_transfer 1": the status register write enable.
void SpiStateObj::enableStatusWrite() {
    pollsLeft_ = d_.MPPI;
    sendOpcode(d_.WESR);
    advance();
}

void SpiStateObj::writeStatus() {
    pollsLeft_ = d_.MPPI;
    transaction(bytes({d_.WRSR, d_.UABL}));
    dropEchoes(2);
    advance();
}

void SpiStateObj::unprotectPoll() {
    const int status = readStatus();
    if ((status & d_.PSTM) == d_.PSST) {
        // A part held locked (lock bit set with WP# low) ignores the status write, and then
        // every erase and program: stop before claiming any of them.
        if (status >= 0 && (status & d_.PRTM) != 0) {
            const QString text =
                QString("The SPI flash is write-protected: its status register still reads %1 "
                        "after the unprotect (protection bits %2).\r\nThe lock bit (SRWD) is "
                        "held by the WP# pin: release WP# (the board's write-protect jumper or "
                        "switch), then try again.")
                    .arg(hex2(status))
                    .arg(hex2(status & d_.PRTM));
            s_.fail(text);
            s_.prompter.tell(text, "ERROR", Prompter::Icon::Critical);
            state_ = CFG_SPI_PROG_HIGH;
            return;
        }
        advance();
        return;
    }
    --pollsLeft_;
    if (pollsLeft_ > 0) {
        s_.clock.sleepMs(100);
        state_ = CFG_SPI_UNPROTECT_POLL_SETUP;
        return;
    }
    s_.fail("SPI Unprotect failed! ");
    s_.appendLine("SPI Unprotect failed! ");
    state_ = CFG_SPI_PROG_HIGH;
}

// A program's pages start where its data does.
void SpiStateObj::disableStatusWrite() {
    if (Program) {
        bytesDone_ = nextWanted(0);
        s_.ui.hscProgress.setMaximum(100);
        s_.ui.hscProgress.setValue(0);
    }
    sendOpcode(d_.WDSR);
    advance();
}

// Which erase or program the write enable is for picks the state after it.
void SpiStateObj::writeEnable() {
    dropAcknowledgements(4);
    discardInput();
    sendOpcode(d_.WREN);
    if (SectorErase || stage_ == Stage::Erase) {
        state_ = CFG_SPI_SECTOR_ERASE_SETUP;
    } else if (BulkErase) {
        state_ = CFG_SPI_BULK_ERASE_SETUP;
    } else if (Program) {
        state_ = CFG_SPI_PAGE_SETUP;
        NextStep();
    } else {
        s_.fail("Invalid CFG_SPI_WRITE_ENABLE_1 Mode");
        s_.prompter.tell("Invalid CFG_SPI_WRITE_ENABLE_1 Mode", "ERROR",
                         Prompter::Icon::Exclamation);
        state_ = CFG_SPI_PROG_HIGH;
    }
}

void SpiStateObj::bulkErase() {
    pollsLeft_ = d_.MEPI;
    s_.ui.hscProgress.setMaximum(d_.MEPI);
    s_.ui.hscProgress.setValue(0);
    sendOpcode(d_.BLKE);
    advance();
}

void SpiStateObj::erasePoll() {
    const int status = readStatus();
    if ((status & d_.ESTM) == d_.ESST) {
        // Claimed once the transaction that carried the status has been acknowledged.
        heldSuccess_ = "Bulk Erase confirmed ";
        advance();
        return;
    }
    --pollsLeft_;
    const int polls = d_.MEPI - pollsLeft_;
    s_.ui.hscProgress.setValue(polls);
    s_.ui.lblProgress.setText(title_ + " " + QString::number(polls) + "% done");
    if (pollsLeft_ > 0) {
        s_.clock.sleepMs(1000);
        state_ = CFG_SPI_ERASE_POLL_SETUP;
        return;
    }
    s_.fail("Bulk Erase failed ");
    s_.appendLine("Bulk Erase failed ");
    state_ = CFG_SPI_PROG_HIGH;
}

void SpiStateObj::eraseWriteDisable() {
    sendOpcode(d_.WRDI);
    advance();
}

void SpiStateObj::sectorErase() {
    sectorStartUs_ = s_.clock.nowUs();
    eraseSent_ = true;
    QByteArray out = bytes({d_.SECE});
    out.append(addressOf(sectorAt_));
    transaction(out);
    dropEchoes(1 + d_.ABSZ);
    state_ = CFG_SPI_SECTOR_POLL_SETUP;
}

void SpiStateObj::sectorPoll() {
    const int status = readStatus();
    if ((status & d_.ESTM) == d_.ESST) {
        state_ = CFG_SPI_SECTOR_NEXT;
        return;
    }
    if (s_.clock.nowUs() - sectorStartUs_ < std::int64_t(SectorEraseLimitMs) * 1000) {
        s_.clock.sleepMs(SectorPollMs);
        state_ = CFG_SPI_SECTOR_POLL_SETUP;
        return;
    }
    const QString text = QString("Sector Erase failed: the sector at %1 was still busy after %2 s ")
                             .arg(hexAddress(sectorAt_))
                             .arg(SectorEraseLimitMs / 1000);
    s_.fail(text);
    s_.appendLine(text);
    state_ = CFG_SPI_PROG_HIGH;
}

// Runs only once the status that said the sector is erased has been confirmed.
void SpiStateObj::sectorNext() {
    sectorAt_ += d_.SECS;
    showProgress(conv::percent(sectorAt_ - eraseFrom_, eraseTo_ - eraseFrom_));
    if (sectorAt_ < eraseTo_) {
        state_ = CFG_SPI_WRITE_ENABLE_SETUP;
        NextStep();
        return;
    }
    if (Flash) {
        startStage();
        return;
    }
    heldSuccess_ = QString("Sector Erase confirmed: %1 to %2 ")
                       .arg(hexAddress(eraseFrom_), hexAddress(eraseTo_ - 1));
    state_ = CFG_SPI_ERASE_WRITE_DISABLE_SETUP;
    NextStep();
}
