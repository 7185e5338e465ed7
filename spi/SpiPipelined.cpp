#include "spi/SpiStateObj.h"

#include "link/ControllerProtocol.h"
#include "link/Conversions.h"
#include "spi/SpiText.h"

#include <QList>

// Pipelined transfers send the bytes of the step-by-step sequence, in the same order; only the
// waits between them go. What the controller has not yet taken never exceeds its receive buffer.

using namespace spitext;

bool SpiStateObj::pipelinesPage() const {
    return pipeline_ && Program && !BulkErase && !SectorErase && stage_ != Stage::Erase &&
           bytesDone_ < byteCount();
}

int SpiStateObj::pageChunk() const {
    int length = largestChunk();
    if (byteCount() - bytesDone_ < length)
        length = byteCount() - bytesDone_;
    const std::int64_t intoPage = (std::int64_t(offset()) + bytesDone_) % d_.MBPP;
    if (intoPage != 0 && d_.MBPP - intoPage < length)
        length = int(d_.MBPP - intoPage);
    return length;
}

QString SpiStateObj::pageMayHoldWrongData(std::int64_t address) const {
    return QString("\r\nThe page at %1 may hold wrong data: erase it and program again.")
        .arg(hexAddress(address));
}

// Waits, as for acknowledgements, until count bytes are in, and takes them.
QByteArray SpiStateObj::awaitReply(int count) {
    const std::int64_t start = s_.clock.nowUs();
    const int budgetMs = int(qMin<std::int64_t>(protocol::ReplyDeadlineMs, silenceRoomUs() / 1000));
    if (s_.waitForBytes(count, Session::QuietPollLimit, budgetMs))
        silentUs_ = 0;
    else
        silentUs_ += s_.clock.nowUs() - start;
    s_.port.setReadLength(count);
    const QByteArray reply = s_.port.read();
    s_.port.setReadLength(1);
    return reply;
}

// Write enable, page program and the first status poll in one write. The poll travels behind
// the page's bytes, so it reaches the controller after them and the firmware's replies. Once
// its status is in, the controller has taken the whole write: the next page goes out while
// the poll's closing acknowledgements are still on their way.
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
        const QByteArray out =
            protocol::announced(enable) + protocol::announced(page) + protocol::announced(poll);
        if (out.size() > protocol::ReceiveBufferBytes && owed == 0) {
            command("sf_transfer 1", CFG_SPI_WRITE_ENABLE_1);
            NextStep();
            return;
        }
        s_.port.write(out);
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
        const QByteArray ours = reply.sliced(qMin<qsizetype>(owed, reply.size()));
        if (reply.size() != owed + first + second + third ||
            (owed > 0 && !(protocol::isAcknowledgement(reply.first(4)) &&
                           protocol::isAcknowledgement(reply.sliced(4, 4)))) ||
            !protocol::wellFormedTransaction(ours.first(first), enable.size()) ||
            !protocol::wellFormedTransaction(ours.sliced(first, second), page.size()) ||
            !protocol::isAcknowledgement(ours.sliced(first + second, 4))) {
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

// Read and verify keep transfers in flight: the next chunk goes out while the controller
// still answers the last, as far as its receive buffer allows. The newest chunk's last
// acknowledgement is left for the tick, which confirms it as it confirms any step.
void SpiStateObj::pipelinedRead() {
    struct Flight {
        std::int32_t at;
        int length, host, sent;
    };
    QList<Flight> flights;
    QByteArray replies;
    struct Mismatch {
        std::int32_t at = -1;
        QByteArray chunk;
        qint64 index = -1;
    } mismatch;
    const int largest = 63 - d_.ABSZ;
    std::int32_t next = bytesDone_;
    bool stopping = false;
    const auto replyRoom = [&] {
        qsizetype room = -4;
        for (const Flight& f : flights)
            room += protocol::TransactionReplyBytes(f.sent);
        return room - replies.size();
    };
    // Each acknowledgement and returned byte stands for bytes the controller has taken.
    const auto untaken = [&] {
        qsizetype seen = replies.size();
        int left = 0;
        for (const Flight& f : flights) {
            const qsizetype r = qMin<qsizetype>(seen, protocol::TransactionReplyBytes(f.sent));
            seen -= r;
            left += r < 4 ? f.host : int(qMax<qsizetype>(0, f.sent - (r - 4)));
        }
        return left;
    };
    std::int64_t heardUs = s_.clock.nowUs(), eventsUs = heardUs;
    for (;;) {
        stopping = stopping || s_.stopRequested();
        while (!stopping && mismatch.at < 0) {
            const std::int32_t at = nextWanted(next);
            if (at >= byteCount())
                break;
            const int length = qMin<std::int32_t>(largest, byteCount() - at);
            QByteArray transaction = bytes({d_.READ});
            transaction.append(addressOf(std::int64_t(offset()) + at));
            transaction.append(QByteArray(length, char(d_.DUMB & 0xFF)));
            const QByteArray out = protocol::announced(transaction);
            if (!flights.isEmpty() && untaken() + out.size() > protocol::ReceiveBufferBytes)
                break;
            s_.port.write(out);
            flights.append({at, length, int(out.size()), int(transaction.size())});
            next = at + length;
        }
        if (const qsizetype room = qMin<qsizetype>(replyRoom(), s_.port.bytesWaiting()); room > 0) {
            s_.port.setReadLength(int(room));
            replies += s_.port.read();
            s_.port.setReadLength(1);
            heardUs = s_.clock.nowUs();
            silentUs_ = 0;
        }
        if (flights.isEmpty()) {
            // Stopped before anything went out: the plain step announces the chunk, and the
            // stop finishes it.
            readSetup();
            return;
        }
        const Flight front = flights.front();
        const bool last = flights.size() == 1 &&
                          (stopping || mismatch.at >= 0 || nextWanted(next) >= byteCount());
        const int whole = protocol::TransactionReplyBytes(front.sent) - (last ? 4 : 0);
        if (replies.size() < whole) {
            const std::int64_t quietUs = s_.clock.nowUs() - heardUs;
            if (quietUs < qMin<std::int64_t>(protocol::ReplyDeadlineMs * 1000, silenceRoomUs())) {
                if (s_.processEvents && s_.clock.nowUs() - eventsUs >= 50000) {
                    s_.processEvents();
                    eventsUs = s_.clock.nowUs();
                }
                s_.port.waitForData(1);
                continue;
            }
            silentUs_ += quietUs;
            noteEchoLost();
        }
        const QByteArray reply = replies.first(qMin<qsizetype>(whole, replies.size()));
        if (!protocol::wellFormedTransaction(reply, front.sent, !last)) {
            // The controller may still be inside any transaction in flight.
            pendingTransfer_ = 0;
            for (const Flight& f : flights)
                pendingTransfer_ += f.sent;
            echoShort();
            if (mismatch.at >= 0 || ++lineRetries_ <= MaxLineRetries) {
                heldAt_ = mismatch.at;
                heldChunk_ = mismatch.chunk;
                heldMismatch_ = mismatch.index;
                bytesDone_ = front.at;
                state_ = CFG_SPI_READ_SETUP;
                NextStep();
                return;
            }
            lineFailure({});
            return;
        }
        replies.remove(0, whole);
        flights.removeFirst();
        lineRetries_ = 0;
        const QByteArray chunk = reply.sliced(4 + 1 + d_.ABSZ, front.length);
        if (last) {
            pendingTransfer_ = 0;
            replyLength_ = 4;
            const bool earlier = mismatch.at >= 0;
            heldAt_ = earlier ? mismatch.at : front.at;
            heldChunk_ = earlier ? mismatch.chunk : chunk;
            heldMismatch_ = earlier     ? mismatch.index
                            : VerifySPI ? firstDifference(chunk, front.at)
                                        : -1;
            bytesDone_ = front.at + front.length;
            afterChunk();
            return;
        }
        if (mismatch.at >= 0)
            continue;
        if (const qint64 index = VerifySPI ? firstDifference(chunk, front.at) : -1; index >= 0) {
            mismatch = {front.at, chunk, index};
            continue;
        }
        heldAt_ = front.at;
        heldChunk_ = chunk;
        storeHeld();
        dropHeld();
        showProgress(conv::percent(front.at + front.length, byteCount()));
    }
}
