// The SPI sequence as a table: each state's command, the state after it and where a retry goes.
#include "spi/SpiStateObj.h"

using C = SpiStateObj;

// A state whose step picks its own next state by operation or by what it read names the usual
// one. The status polls, write enables and sector erases go back to their announcement, write
// enable first: an erase or a status read sent again does no harm.
const SpiStateObj::Row SpiStateObj::rows_[] = {
    {.state = CFG_SPI_IDLE},
    {.state = CFG_SPI_LOAD_CONFIG_ON,
     .command = "load_config 1",
     .next = CFG_SPI_PROG_LOW,
     .retry = CFG_SPI_IDLE,
     .before = &C::prepare},
    {.state = CFG_SPI_PROG_LOW,
     .command = "drive_prog 0",
     .next = CFG_SPI_MODE_OFF,
     .retry = CFG_SPI_LOAD_CONFIG_ON},
    {.state = CFG_SPI_MODE_OFF,
     .command = "spi_mode 0",
     .next = CFG_SPI_CS_LOW,
     .retry = CFG_SPI_PROG_LOW},
    {.state = CFG_SPI_CS_LOW,
     .transfer = Transfer::Identification,
     .next = CFG_SPI_READ_ID,
     .retry = CFG_SPI_MODE_OFF},
    {.state = CFG_SPI_READ_ID, .next = UNPROTECT, .retry = CFG_SPI_CS_LOW, .work = &C::identify},
    {.state = UNPROTECT,
     .transfer = Transfer::One,
     .next = CFG_SPI_ENABLE_STATUS_WRITE,
     .retry = CFG_SPI_CS_LOW},
    {.state = CFG_SPI_ENABLE_STATUS_WRITE,
     .next = CFG_SPI_WRITE_STATUS_SETUP,
     .retry = UNPROTECT,
     .work = &C::enableStatusWrite},
    {.state = CFG_SPI_WRITE_STATUS_SETUP,
     .transfer = Transfer::Two,
     .next = CFG_SPI_WRITE_STATUS,
     .retry = UNPROTECT},
    {.state = CFG_SPI_WRITE_STATUS,
     .next = CFG_SPI_UNPROTECT_POLL_SETUP,
     .retry = CFG_SPI_WRITE_STATUS_SETUP,
     .work = &C::writeStatus},
    {.state = CFG_SPI_UNPROTECT_POLL_SETUP,
     .transfer = Transfer::Two,
     .next = CFG_SPI_UNPROTECT_POLL,
     .retry = CFG_SPI_WRITE_STATUS_SETUP},
    {.state = CFG_SPI_UNPROTECT_POLL,
     .next = CFG_SPI_DISABLE_STATUS_WRITE_SETUP,
     .retry = CFG_SPI_UNPROTECT_POLL_SETUP,
     .work = &C::unprotectPoll},
    {.state = CFG_SPI_DISABLE_STATUS_WRITE_SETUP,
     .transfer = Transfer::One,
     .next = CFG_SPI_DISABLE_STATUS_WRITE,
     .retry = CFG_SPI_UNPROTECT_POLL_SETUP},
    {.state = CFG_SPI_DISABLE_STATUS_WRITE,
     .next = CFG_SPI_WRITE_ENABLE_SETUP,
     .retry = CFG_SPI_DISABLE_STATUS_WRITE_SETUP,
     .work = &C::disableStatusWrite},
    {.state = CFG_SPI_WRITE_ENABLE_SETUP,
     .transfer = Transfer::One,
     .next = CFG_SPI_WRITE_ENABLE_1,
     .retry = CFG_SPI_DISABLE_STATUS_WRITE_SETUP,
     .retryRule = &C::pollPageAgain,
     .before = &C::pipelinedOrClear,
     .runOn = true},
    {.state = CFG_SPI_WRITE_ENABLE_1,
     .next = CFG_SPI_SECTOR_ERASE_SETUP,
     .retry = CFG_SPI_WRITE_ENABLE_SETUP,
     .work = &C::writeEnable},
    {.state = CFG_SPI_BULK_ERASE_SETUP,
     .transfer = Transfer::One,
     .next = CFG_SPI_BULK_ERASE,
     .retry = CFG_SPI_WRITE_ENABLE_SETUP},
    {.state = CFG_SPI_BULK_ERASE,
     .next = CFG_SPI_ERASE_POLL_SETUP,
     .retry = CFG_SPI_BULK_ERASE_SETUP,
     .work = &C::bulkErase},
    {.state = CFG_SPI_ERASE_POLL_SETUP,
     .transfer = Transfer::Two,
     .next = CFG_SPI_ERASE_POLL,
     .retry = CFG_SPI_BULK_ERASE_SETUP},
    {.state = CFG_SPI_ERASE_POLL,
     .next = CFG_SPI_ERASE_WRITE_DISABLE_SETUP,
     .retry = CFG_SPI_ERASE_POLL_SETUP,
     .work = &C::erasePoll},
    {.state = CFG_SPI_ERASE_WRITE_DISABLE_SETUP,
     .transfer = Transfer::One,
     .next = CFG_SPI_ERASE_WRITE_DISABLE,
     .retry = CFG_SPI_ERASE_POLL_SETUP,
     .settlesHeld = true},
    {.state = CFG_SPI_ERASE_WRITE_DISABLE,
     .next = CFG_SPI_PROG_HIGH,
     .retry = CFG_SPI_ERASE_WRITE_DISABLE_SETUP,
     .work = &C::eraseWriteDisable},
    {.state = CFG_SPI_PAGE_SETUP,
     .transfer = Transfer::Page,
     .next = CFG_SPI_PAGE_PROGRAM,
     .retry = CFG_SPI_WRITE_ENABLE_SETUP,
     .before = &C::preparePage,
     .runOn = true},
    {.state = CFG_SPI_PAGE_PROGRAM,
     .next = CFG_SPI_PROGRAM_POLL_SETUP,
     .retry = CFG_SPI_PAGE_SETUP,
     .work = &C::pageProgram},
    {.state = CFG_SPI_PROGRAM_POLL_SETUP,
     .transfer = Transfer::Two,
     .next = CFG_SPI_PROGRAM_POLL,
     .retry = CFG_SPI_PAGE_SETUP,
     .before = &C::takeTransactionEnd,
     .runOn = true},
    // A page's status that was not confirmed is polled again: the page is not sent twice.
    {.state = CFG_SPI_PROGRAM_POLL,
     .next = CFG_SPI_WRITE_ENABLE_SETUP,
     .retry = CFG_SPI_PAGE_PROGRAM,
     .work = &C::programPoll},
    {.state = CFG_SPI_PROGRAM_WRITE_DISABLE_SETUP,
     .transfer = Transfer::One,
     .next = CFG_SPI_PROGRAM_WRITE_DISABLE,
     .retry = CFG_SPI_PROGRAM_POLL_SETUP},
    {.state = CFG_SPI_PROGRAM_WRITE_DISABLE,
     .next = CFG_SPI_PROG_HIGH,
     .retry = CFG_SPI_PROGRAM_WRITE_DISABLE_SETUP,
     .work = &C::programWriteDisable},
    // The identification for Read and Verify is read again (the state before would be another
    // operation's).
    {.state = CFG_SPI_OPEN_DATA_FILE,
     .next = CFG_SPI_READ_SETUP,
     .retry = CFG_SPI_CS_LOW,
     .work = &C::openDataFile},
    {.state = CFG_SPI_READ_SETUP,
     .transfer = Transfer::ReadChunk,
     .next = CFG_SPI_READ_DATA,
     .retry = CFG_SPI_OPEN_DATA_FILE,
     .retryRule = &C::readHeldAgain,
     .settlesHeld = true,
     .before = &C::readChunk},
    {.state = CFG_SPI_READ_DATA,
     .next = CFG_SPI_READ_SETUP,
     .retry = CFG_SPI_READ_SETUP,
     .work = &C::readData},
    // The release is sent again in place.
    {.state = CFG_SPI_PROG_HIGH,
     .command = "drive_prog 1",
     .next = CFG_SPI_LOAD_CONFIG_OFF,
     .retry = CFG_SPI_PROG_HIGH,
     .retryRule = &C::closeAgain,
     .settlesHeld = true,
     .before = &C::hideProgress},
    {.state = CFG_SPI_LOAD_CONFIG_OFF,
     .command = "load_config 0",
     .next = CFG_SPI_FINISH,
     .retry = CFG_SPI_PROG_HIGH},
    {.state = CFG_SPI_FINISH,
     .next = CFG_SPI_IDLE,
     .retry = CFG_SPI_LOAD_CONFIG_OFF,
     .work = &C::finish},
    {.state = CFG_SPI_SECTOR_ERASE_SETUP,
     .transfer = Transfer::OpcodeAndAddress,
     .next = CFG_SPI_SECTOR_ERASE,
     .retry = CFG_SPI_WRITE_ENABLE_SETUP},
    {.state = CFG_SPI_SECTOR_ERASE,
     .next = CFG_SPI_SECTOR_POLL_SETUP,
     .retry = CFG_SPI_WRITE_ENABLE_SETUP,
     .work = &C::sectorErase},
    {.state = CFG_SPI_SECTOR_POLL_SETUP,
     .transfer = Transfer::Two,
     .next = CFG_SPI_SECTOR_POLL,
     .retry = CFG_SPI_WRITE_ENABLE_SETUP},
    {.state = CFG_SPI_SECTOR_POLL,
     .next = CFG_SPI_SECTOR_NEXT,
     .retry = CFG_SPI_SECTOR_POLL_SETUP,
     .work = &C::sectorPoll},
    {.state = CFG_SPI_SECTOR_NEXT,
     .next = CFG_SPI_WRITE_ENABLE_SETUP,
     .retry = CFG_SPI_SECTOR_POLL_SETUP,
     .work = &C::sectorNext},
    {.state = CFG_SPI_STAGE_NEXT,
     .next = CFG_SPI_READ_SETUP,
     .retry = CFG_SPI_PROGRAM_WRITE_DISABLE_SETUP,
     .retryRule = &C::stageAgain,
     .settlesHeld = true,
     .work = &C::startStage},
};

const SpiStateObj::Row* SpiStateObj::rowFor(std::int16_t state) {
    for (const Row& row : rows_)
        if (row.state == state)
            return &row;
    return nullptr;
}

// A missing acknowledgement after a chunk or a page costs that chunk or page, not the whole
// run: a read chunk that awaits its confirmation is read again, and after a page its status
// is polled again before the next one.
std::int16_t SpiStateObj::GetPreviousState() const {
    const Row* row = rowFor(state_);
    if (!row)
        return std::int16_t(state_ - 1);
    if (row->retryRule)
        if (const std::optional<std::int16_t> back = (this->*row->retryRule)())
            return *back;
    return row->retry;
}

std::optional<std::int16_t> SpiStateObj::readHeldAgain() const {
    if (heldAt_ >= 0)
        return CFG_SPI_READ_SETUP;
    return std::nullopt;
}

std::optional<std::int16_t> SpiStateObj::pollPageAgain() const {
    if (Program && bytesDone_ > 0)
        return CFG_SPI_PROGRAM_POLL_SETUP;
    return std::nullopt;
}

// An ID Check's or a Detect's identification, held for its confirmation, is read again.
std::optional<std::int16_t> SpiStateObj::closeAgain() const {
    if (const auto held = readHeldAgain())
        return held;
    if ((EchoID || Detect) && !heldSuccess_.isEmpty())
        return CFG_SPI_CS_LOW;
    return std::nullopt;
}

// A flash's keep stage starts right after the identification, which is read again.
std::optional<std::int16_t> SpiStateObj::stageAgain() const {
    if (const auto held = readHeldAgain())
        return held;
    if (stage_ == Stage::Keep)
        return CFG_SPI_CS_LOW;
    return std::nullopt;
}

void SpiStateObj::step() {
    if (const Row* row = rowFor(state_); row && row->settlesHeld)
        commitHeld();
    // Settling may have sent the sequence elsewhere: a chunk to read again, or the end.
    const Row* row = rowFor(state_);
    if (!row || (!row->command && row->transfer == Transfer::None && !row->work)) {
        s_.prompter.tell("Invalid SPI program state", "Info", Prompter::Icon::None);
        SetState(CFG_SPI_IDLE);
        return;
    }
    if (row->work) {
        (this->*row->work)();
        return;
    }
    if (row->before && !(this->*row->before)())
        return;
    announce(state_);
    if (row->runOn)
        NextStep();
}

void SpiStateObj::advance() {
    state_ = rowFor(state_)->next;
}

void SpiStateObj::announce(std::int16_t state) {
    const Row& row = *rowFor(state);
    command(row.transfer == Transfer::None
                ? QString(row.command)
                : QString("sf_transfer %1").arg(transferBytes(row.transfer)),
            row.next);
}

int SpiStateObj::transferBytes(Transfer transfer) const {
    switch (transfer) {
    case Transfer::One:
        return 1;
    case Transfer::Two:
        return 2;
    case Transfer::Identification:
        return d_.NIDB + 1;
    case Transfer::OpcodeAndAddress:
        return 1 + d_.ABSZ;
    case Transfer::Page:
    case Transfer::ReadChunk:
        return 1 + d_.ABSZ + chunkLength_;
    case Transfer::None:
        break;
    }
    return 0;
}
