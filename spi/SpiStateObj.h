#pragma once

#include "engine/FlashImage.h"
#include "engine/OperationRequest.h"
#include "engine/Sequence.h"
#include "engine/Session.h"
#include "spi/DeviceCatalog.h"
#include "spi/SpiDescription.h"

#include <functional>
#include <optional>
#include <utility>

// The SPI flash operations through the controller: ID Check, Bulk Erase, Program, Read and
// Verify. Every flash transaction is announced with "sf_transfer n"; the controller returns
// one byte per byte written.
class SpiStateObj : public Sequence {
public:
    enum : std::int16_t {
        CFG_SPI_IDLE = 0,
        CFG_SPI_LOAD_CONFIG_ON,
        CFG_SPI_PROG_LOW,
        CFG_SPI_MODE_OFF,
        CFG_SPI_CS_LOW,
        CFG_SPI_READ_ID,
        UNPROTECT,
        CFG_SPI_ENABLE_STATUS_WRITE,
        CFG_SPI_WRITE_STATUS_SETUP,
        CFG_SPI_WRITE_STATUS,
        CFG_SPI_UNPROTECT_POLL_SETUP,
        CFG_SPI_UNPROTECT_POLL,
        CFG_SPI_DISABLE_STATUS_WRITE_SETUP,
        CFG_SPI_DISABLE_STATUS_WRITE,
        CFG_SPI_WRITE_ENABLE_SETUP,
        CFG_SPI_WRITE_ENABLE_1,
        CFG_SPI_BULK_ERASE_SETUP,
        CFG_SPI_BULK_ERASE,
        CFG_SPI_ERASE_POLL_SETUP,
        CFG_SPI_ERASE_POLL,
        CFG_SPI_ERASE_WRITE_DISABLE_SETUP,
        CFG_SPI_ERASE_WRITE_DISABLE,
        CFG_SPI_PAGE_SETUP,
        CFG_SPI_PAGE_PROGRAM,
        CFG_SPI_PROGRAM_POLL_SETUP,
        CFG_SPI_PROGRAM_POLL,
        CFG_SPI_PROGRAM_WRITE_DISABLE_SETUP,
        CFG_SPI_PROGRAM_WRITE_DISABLE,
        CFG_SPI_OPEN_DATA_FILE,
        CFG_SPI_READ_SETUP,
        CFG_SPI_READ_DATA,
        CFG_SPI_PROG_HIGH,
        CFG_SPI_LOAD_CONFIG_OFF,
        CFG_SPI_FINISH,
        // Erasing sector by sector, and the step from one stage of a flash to the next.
        CFG_SPI_SECTOR_ERASE_SETUP,
        CFG_SPI_SECTOR_ERASE,
        CFG_SPI_SECTOR_POLL_SETUP,
        CFG_SPI_SECTOR_POLL,
        CFG_SPI_SECTOR_NEXT,
        CFG_SPI_STAGE_NEXT
    };

    explicit SpiStateObj(Session& session)
        : s_(session) {}

    // Sets the sequence up afresh for one request, at its first state: nothing of an earlier
    // run is kept. The progress title is the caption the launch showed.
    void begin(const OperationRequest& request, const QString& progressTitle);

    bool EchoID = false, BulkErase = false, Program = false, ReadSPI = false, VerifySPI = false;
    // Detect finds the chip among every description; SectorErase erases the sectors the range
    // touches; Flash erases the sectors an image covers, programs it and verifies it.
    bool Detect = false, SectorErase = false, Flash = false;
    bool MyError = false;
    // Whether an ID Check that finds another known device offers to select it (the window).
    bool offerOtherDevice = true;
    // Told at the end of a run of the one known device the chip answered as: a Detect's find,
    // or, asking first, the other device an ID Check found. The panel selects it.
    std::function<void(const QString& device, bool askFirst)> offerDevice;

    std::int16_t State() const override { return state_; }
    void SetState(std::int16_t value) override;
    void NextStep() override;
    bool FileTransfer() const override { return state_ == CFG_SPI_PAGE_SETUP && bytesDone_ > 0; }
    // The stage counts first: a flash's verify starts again from byte 0 but is further on.
    std::int64_t BytesDone() const override {
        return (std::int64_t(stage_) << 32) + (stage_ == Stage::Erase ? sectorAt_ : bytesDone_);
    }
    std::int16_t GetPreviousState() const override;
    int ReplyLength() const override { return replyLength_; }
    std::int64_t PendingBytes() const override { return pendingTransfer_; }
    void FillerSent() override { pendingTransfer_ = 0; }
    void SetState_CFG_SPI_CS_LOW() { SetState(CFG_SPI_CS_LOW); }
    void SetState_UNPROTECT() { SetState(UNPROTECT); }

    // Reads the request's device description; false (after saying why) when it cannot.
    bool LoadSpiDeviceFile();
    const SpiDescription& description() const { return d_; }
    // The last identification read, and the devices Detect found for it.
    const QByteArray& identification() const { return idRead_; }
    const QStringList& detectedDevices() const { return detected_; }

private:
    // A flash goes through these stages in turn; the other operations stay in Whole.
    // Guard and Recheck read a few bytes just outside the erase span, before and after it: a
    // part that erases more than SECS says changes them.
    // A Read and a Verify go from Whole to Reread, their second pass.
    enum class Stage { Whole, Guard, Keep, Erase, Recheck, Write, Check, Reread };

    // How many bytes the SPI transfer a state announces ("sf_transfer n") holds.
    enum class Transfer : std::int8_t {
        None,
        One,
        Two,
        Identification,
        OpcodeAndAddress,
        Page,
        ReadChunk
    };
    // One row per state: what it sends, the state after it, and where a missing acknowledgement
    // of what it sent takes the sequence back to.
    struct Row {
        std::int16_t state;
        // A controller command, or the SPI transfer the state announces.
        const char* command = nullptr;
        Transfer transfer = Transfer::None;
        std::int16_t next = CFG_SPI_IDLE;
        std::int16_t retry = -1;
        // Where the retry depends on the run: decides first, or leaves it to the row.
        std::optional<std::int16_t> (SpiStateObj::*retryRule)() const = nullptr;
        // What waits for the acknowledgement the tick has just judged is settled first.
        bool settlesHeld = false;
        // Runs before the command; false when it has done the whole step itself.
        bool (SpiStateObj::*before)() = nullptr;
        // Does the whole step: sends, reads, and picks the state after it.
        void (SpiStateObj::*work)() = nullptr;
        // The page loop reads its own acknowledgements: the next step runs at once.
        bool runOn = false;
    };
    static const Row rows_[];
    static const Row* rowFor(std::int16_t state);
    void step();
    // To the state the table gives after this one.
    void advance();
    // Sends the command or the transfer announcement of a state's row, and goes to its next.
    void announce(std::int16_t state);
    int transferBytes(Transfer transfer) const;
    std::optional<std::int16_t> readHeldAgain() const;
    std::optional<std::int16_t> pollPageAgain() const;
    std::optional<std::int16_t> closeAgain() const;
    std::optional<std::int16_t> stageAgain() const;

    // The steps' own parts, named in the table.
    bool prepare();
    void resetRun();
    bool rangeFits();
    void identify();
    void enableStatusWrite();
    void writeStatus();
    void unprotectPoll();
    void disableStatusWrite();
    bool pipelinedOrClear();
    void writeEnable();
    void bulkErase();
    void erasePoll();
    void eraseWriteDisable();
    bool preparePage();
    bool takeTransactionEnd();
    void pageProgram();
    void openDataFileForProgram();
    void programPoll();
    void programWriteDisable();
    void openDataFile();
    bool readChunk();
    void takeReadChunk();
    void readData();
    bool hideProgress();
    void finish();
    void commitHeld();
    void storeHeld();
    void afterChunk();
    void pageDone();
    int pageChunk() const;
    QString pageMayHoldWrongData(std::int64_t address) const;
    bool pipelinesPage() const;
    void pipelinedPage();
    void sendPage(const QByteArray& page, const QByteArray& poll);
    struct ReadWindow;
    void pipelinedRead();
    void awaitBytes(int count);
    QByteArray awaitReply(int count);
    void dropHeld();
    void reportIdentification(bool complete);
    bool prepareDetect();
    void detected(bool complete);
    bool prepareRange();
    bool loadImage();
    void startStage();
    bool startWrite();
    void comparePass(Stage stage, const QString& title);
    void sectorErase();
    void sectorPoll();
    void sectorNext();
    void saveErasedSectors();
    void readGuard(Stage stage);
    std::pair<QString, QString> mismatchReport(std::int32_t at);
    void keepGuardBytes();
    void useEraseSpan();
    bool neighboursKept();
    std::int32_t nextWanted(std::int32_t from) const;
    qint64 firstDifference(const QByteArray& read, std::int32_t at);

    std::int16_t ReadEcho();
    void dropEchoes(int count);
    void dropAcknowledgements(int count);
    void noteEchoLost();
    std::int64_t silenceRoomUs() const;
    void discardInput();
    void command(const QString& text, std::int16_t next);
    void transaction(const QByteArray& bytes);
    // A one-byte transaction: the opcode and its echo.
    void sendOpcode(std::int16_t opcode);
    int readStatus();
    void showProgress(int percent);

    std::int32_t offset() const;
    std::int32_t byteCount() const;
    QByteArray addressBytes() const;
    QByteArray addressOf(std::int64_t address) const;
    int largestChunk() const;
    QByteArray fileBytes(std::int32_t position, int count);

    Session& s_;
    SpiDescription d_;
    std::int16_t state_ = 0;
    std::int32_t bytesDone_ = 0;
    std::int16_t pollsLeft_ = 0;
    bool dataFileOpen_ = false;
    QByteArray chunk_;
    std::int16_t chunkLength_ = 0;
    QString title_;
    std::int32_t echoCountdown_ = 0;
    static constexpr int MaxEchoesLostPerStep = 30;
    // A chunk whose echo came back short is read again this many times in a row: a reply of
    // 68 bytes on a line that garbles one byte in a hundred comes back whole only half the time.
    static constexpr int MaxLineRetries = 8;
    int lineRetries_ = 0;
    bool echoShort();
    void lineFailure(const QString& more);
    // Returned bytes are waited for until the line has been silent this long in all; past it
    // a dead line costs no more waiting, whatever the poll limit.
    static constexpr int SilenceBudgetMs = 1000;
    std::int64_t silentUs_ = 0;
    int echoesLost_ = 0;
    // The debug panel's high-water marks: the longest wait for an echo, in polls, and the most
    // status polls a page took. They outlast a run.
    std::int32_t maxEchoPolls_ = 0, maxPagePolls_ = 0;
    int nesting_ = 0;
    int replyLength_ = 4;
    // What the operator asked for, taken whole at launch: edits made while it runs change the
    // controls, not the operation.
    QString device_, runPath_;
    // Wide: a request may ask for any value, and is checked against the chip before use.
    std::int64_t offset_ = 0, count_ = 0;
    int pollLimit_ = 1000;
    // Send what can go together in one write, and keep reads in flight.
    bool pipeline_ = false;
    // An erase has been sent in this run: only then can sectors have lost their data.
    bool eraseSent_ = false;
    std::int32_t pendingTransfer_ = 0;
    QByteArray heldChunk_;
    std::int32_t heldAt_ = -1;
    qint64 heldMismatch_ = -1;
    QString heldSuccess_;

    Stage stage_ = Stage::Whole;
    bool flashConfirmed_ = false;
    bool prepared_ = false;
    std::optional<FlashImage> image_;
    std::int32_t eraseFrom_ = 0, eraseTo_ = 0, sectorAt_ = 0;
    static constexpr int GuardBytes = 32;
    std::int32_t guardBefore_ = 0, guardAfter_ = 0;
    QByteArray guardSeen_, guardNow_;
    // A Read's first pass, which its second must agree with.
    QByteArray firstRead_;
    std::int64_t sectorStartUs_ = 0;
    // A sector erase is polled this often, and given up after this long.
    static constexpr int SectorPollMs = 5;
    static constexpr int SectorEraseLimitMs = 15000;
    QList<CatalogDevice> catalog_;
    QByteArray idRead_;
    QStringList detected_;
    QString offer_;
};
