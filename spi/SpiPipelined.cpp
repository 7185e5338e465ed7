// Pipelined transfers: a page's write enable, program and first poll in one write, and reads
// kept in flight. They send the bytes of the step-by-step sequence, in the same order; only the
// waits between them go. What the controller has not yet taken never exceeds its receive buffer.
#include "spi/SpiStateObj.h"

#include "engine/Conversions.h"
#include "link/ControllerProtocol.h"
#include "spi/SpiText.h"

#include <QList>

using namespace spitext;

bool SpiStateObj::pipelinesPage() const {
    return pipeline_ && Program && !BulkErase && !SectorErase && stage_ != Stage::Erase &&
           bytesDone_ < byteCount();
}

// The acknowledgements owed for the page before, the write enable's and the page's
// transactions, and the poll's command acknowledgement.
static bool pageReplyWhole(const QByteArray& reply, int owed, int enable, int page) {
    const int first = protocol::TransactionReplyBytes(enable);
    const int second = protocol::TransactionReplyBytes(page);
    const QByteArray ours = reply.sliced(owed);
    return (owed == 0 || (protocol::isAcknowledgement(reply.first(4)) &&
                          protocol::isAcknowledgement(reply.sliced(4, 4)))) &&
           protocol::wellFormedTransaction(ours.first(first), enable) &&
           protocol::wellFormedTransaction(ours.sliced(first, second), page) &&
           protocol::isAcknowledgement(ours.sliced(first + second, 4));
}

// The poll travels behind the page. When the part's typical page time is longer than the poll
// takes on the line, it is held back by the difference, so that one poll usually finds the
// page done.
void SpiStateObj::sendPage(const QByteArray& page, const QByteArray& poll) {
    const QString& line = s_.port.settings();
    const std::int64_t holdUs = std::int64_t(d_.PPTY) - protocol::lineTimeUs(poll.size(), line);
    if (holdUs <= 0) {
        s_.port.write(page + poll);
        return;
    }
    s_.port.write(page);
    s_.clock.sleepUs(protocol::lineTimeUs(page.size(), line) + holdUs);
    s_.port.write(poll);
}

// Write enable, page program and the first status poll in one write (two when the poll is
// held back). The poll travels behind the page's bytes, so it reaches the controller after
// them and the firmware's replies. Once its status is in, the controller has taken the whole
// write: the next page goes out while the poll's closing acknowledgements are still on their
// way.
void SpiStateObj::pipelinedPage() {
    discardInput();
    openDataFileForProgram();
    int owed = 0;
    std::int64_t eventsUs = s_.clock.nowUs();
    for (;;) {
        chunkLength_ = std::int16_t(pageChunk());
        chunk_ = fileBytes(bytesDone_, chunkLength_);
        const QByteArray enable = bytes({d_.WREN});
        QByteArray page = bytes({d_.PGPM});
        page.append(addressBytes());
        page.append(chunk_);
        const QByteArray poll = bytes({d_.RDSR, d_.DUMB});
        // A page transaction is at most 64 bytes (a chunk is at most 63 less the address), so
        // the write is at most 110: within the controller's receive buffer.
        sendPage(protocol::announced(enable) + protocol::announced(page),
                 protocol::announced(poll));
        const std::int64_t address = std::int64_t(offset()) + bytesDone_;
        bytesDone_ += chunkLength_;
        // Until its reply is whole the controller may still be inside the page's transaction.
        pendingTransfer_ = std::int32_t(page.size());
        replyLength_ = 8;
        const int first = protocol::TransactionReplyBytes(enable.size());
        const int second = protocol::TransactionReplyBytes(page.size());
        // The poll's closing acknowledgements are the next page's, or the tick's.
        const int third = protocol::TransactionReplyBytes(poll.size()) - 8;
        const QByteArray reply = awaitReply(owed + first + second + third);
        if (reply.size() != owed + first + second + third ||
            !pageReplyWhole(reply, owed, int(enable.size()), int(page.size()))) {
            echoShort();
            lineFailure(pageMayHoldWrongData(address));
            return;
        }
        pendingTransfer_ = 0;
        pollsLeft_ = d_.MPPI;
        if ((quint8(reply.back()) & d_.PSTM) != d_.PSST) {
            --pollsLeft_;
            state_ = CFG_SPI_PROGRAM_POLL_SETUP;
            NextStep();
            return;
        }
        pageDone();
        if (state_ != CFG_SPI_WRITE_ENABLE_SETUP || s_.stopRequested())
            return;
        if (s_.processEvents && s_.clock.nowUs() - eventsUs >= 50000) {
            s_.processEvents();
            eventsUs = s_.clock.nowUs();
        }
        owed = 8;
    }
}

// The read transfers in flight, oldest first, and the replies taken for them so far.
struct SpiStateObj::ReadWindow {
    struct Flight {
        std::int32_t at;
        int length, host, sent;
    };
    // A verify's first mismatch: the chunks after it are only drained.
    struct Mismatch {
        std::int32_t at = -1;
        QByteArray chunk;
        qint64 index = -1;
    };

    SpiStateObj& q;
    std::int32_t next;
    std::int64_t heardUs, eventsUs;
    QList<Flight> flights;
    QByteArray replies;
    Mismatch mismatch;
    bool stopping = false;

    ReadWindow(SpiStateObj& sequence, std::int32_t from, std::int64_t nowUs)
        : q(sequence)
        , next(from)
        , heardUs(nowUs)
        , eventsUs(nowUs) {}

    void send();
    void take();
    bool frontIsLast() const;
    bool waitForFront(int whole);
    bool settleFront(int whole, bool last);
    void readAgainOrFail(const Flight& front);
    void closeWith(const Flight& front, const QByteArray& chunk);
    void keep(const Flight& front, const QByteArray& chunk);
    // Reply bytes still to come for what is in flight, but for the newest one's last
    // acknowledgement.
    qsizetype replyRoom() const;
    // Bytes sent that the controller has not taken yet: each acknowledgement and returned
    // byte stands for bytes it has taken.
    int untaken() const;
};

qsizetype SpiStateObj::ReadWindow::replyRoom() const {
    qsizetype room = -4;
    for (const Flight& f : flights)
        room += protocol::TransactionReplyBytes(f.sent);
    return room - replies.size();
}

int SpiStateObj::ReadWindow::untaken() const {
    qsizetype seen = replies.size();
    int left = 0;
    for (const Flight& f : flights) {
        const qsizetype r = qMin<qsizetype>(seen, protocol::TransactionReplyBytes(f.sent));
        seen -= r;
        left += r < 4 ? f.host : int(qMax<qsizetype>(0, f.sent - (r - 4)));
    }
    return left;
}

// Sends the next chunks while the controller's receive buffer has room for them.
void SpiStateObj::ReadWindow::send() {
    const int largest = 63 - q.d_.ABSZ;
    while (!stopping && mismatch.at < 0) {
        const std::int32_t at = q.nextWanted(next);
        if (at >= q.byteCount())
            break;
        const int length = qMin<std::int32_t>(largest, q.byteCount() - at);
        QByteArray transaction = bytes({q.d_.READ});
        transaction.append(q.addressOf(std::int64_t(q.offset()) + at));
        transaction.append(QByteArray(length, char(q.d_.DUMB & 0xFF)));
        const QByteArray out = protocol::announced(transaction);
        if (!flights.isEmpty() && untaken() + out.size() > protocol::ReceiveBufferBytes)
            break;
        q.s_.port.write(out);
        flights.append({at, length, int(out.size()), int(transaction.size())});
        next = at + length;
    }
}

void SpiStateObj::ReadWindow::take() {
    const qsizetype room = qMin<qsizetype>(replyRoom(), q.s_.port.bytesWaiting());
    if (room <= 0)
        return;
    q.s_.port.setReadLength(int(room));
    replies += q.s_.port.read();
    q.s_.port.setReadLength(1);
    heardUs = q.s_.clock.nowUs();
    q.silentUs_ = 0;
}

bool SpiStateObj::ReadWindow::frontIsLast() const {
    return flights.size() == 1 &&
           (stopping || mismatch.at >= 0 || q.nextWanted(next) >= q.byteCount());
}

// True while the front's reply may still come; past the deadline the echo counts as lost.
bool SpiStateObj::ReadWindow::waitForFront(int whole) {
    if (replies.size() >= whole)
        return false;
    const std::int64_t quietUs = q.s_.clock.nowUs() - heardUs;
    if (quietUs < qMin<std::int64_t>(protocol::ReplyDeadlineMs * 1000, q.silenceRoomUs())) {
        if (q.s_.processEvents && q.s_.clock.nowUs() - eventsUs >= 50000) {
            q.s_.processEvents();
            eventsUs = q.s_.clock.nowUs();
        }
        q.s_.port.waitForData(1);
        return true;
    }
    q.silentUs_ += quietUs;
    q.noteEchoLost();
    return false;
}

// Checks the front's reply and takes its chunk; false when the read leaves the window.
bool SpiStateObj::ReadWindow::settleFront(int whole, bool last) {
    const Flight front = flights.front();
    const QByteArray reply = replies.first(qMin<qsizetype>(whole, replies.size()));
    if (!protocol::wellFormedTransaction(reply, front.sent, !last)) {
        readAgainOrFail(front);
        return false;
    }
    replies.remove(0, whole);
    flights.removeFirst();
    q.lineRetries_ = 0;
    const QByteArray chunk = reply.sliced(4 + 1 + q.d_.ABSZ, front.length);
    if (last) {
        closeWith(front, chunk);
        return false;
    }
    keep(front, chunk);
    return true;
}

void SpiStateObj::ReadWindow::readAgainOrFail(const Flight& front) {
    // The controller may still be inside any transaction in flight.
    q.pendingTransfer_ = 0;
    for (const Flight& f : flights)
        q.pendingTransfer_ += f.sent;
    q.echoShort();
    if (mismatch.at >= 0 || ++q.lineRetries_ <= MaxLineRetries) {
        q.heldAt_ = mismatch.at;
        q.heldChunk_ = mismatch.chunk;
        q.heldMismatch_ = mismatch.index;
        q.bytesDone_ = front.at;
        q.state_ = CFG_SPI_READ_SETUP;
        q.NextStep();
        return;
    }
    q.lineFailure({});
}

// The newest chunk, or the first mismatch, is held for the tick's confirmation.
void SpiStateObj::ReadWindow::closeWith(const Flight& front, const QByteArray& chunk) {
    q.pendingTransfer_ = 0;
    q.replyLength_ = 4;
    const bool earlier = mismatch.at >= 0;
    q.heldAt_ = earlier ? mismatch.at : front.at;
    q.heldChunk_ = earlier ? mismatch.chunk : chunk;
    q.heldMismatch_ = earlier       ? mismatch.index
                      : q.VerifySPI ? q.firstDifference(chunk, front.at)
                                    : -1;
    q.bytesDone_ = front.at + front.length;
    q.afterChunk();
}

// A chunk whose closing acknowledgement has come is confirmed and stored at once.
void SpiStateObj::ReadWindow::keep(const Flight& front, const QByteArray& chunk) {
    if (mismatch.at >= 0)
        return;
    if (const qint64 index = q.VerifySPI ? q.firstDifference(chunk, front.at) : -1; index >= 0) {
        mismatch = {front.at, chunk, index};
        return;
    }
    q.heldAt_ = front.at;
    q.heldChunk_ = chunk;
    q.storeHeld();
    q.dropHeld();
    q.showProgress(conv::percent(front.at + front.length, q.byteCount()));
}

// Read and verify keep transfers in flight: the next chunk goes out while the controller
// still answers the last, as far as its receive buffer allows. The newest chunk's last
// acknowledgement is left for the tick, which confirms it as it confirms any step.
void SpiStateObj::pipelinedRead() {
    ReadWindow window(*this, bytesDone_, s_.clock.nowUs());
    for (;;) {
        window.stopping = window.stopping || s_.stopRequested();
        window.send();
        window.take();
        if (window.flights.isEmpty()) {
            // Stopped before anything went out: the plain step announces the chunk, and the
            // stop finishes it.
            takeReadChunk();
            announce(CFG_SPI_READ_SETUP);
            return;
        }
        const bool last = window.frontIsLast();
        const int whole =
            protocol::TransactionReplyBytes(window.flights.front().sent) - (last ? 4 : 0);
        if (window.waitForFront(whole))
            continue;
        if (!window.settleFront(whole, last))
            return;
    }
}
