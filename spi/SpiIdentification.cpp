// Reading the identification: ID Check, Detect, and the check before every other operation.
#include "spi/SpiStateObj.h"

#include "engine/RuntimeError.h"
#include "spi/SpiText.h"

using namespace spitext;

void SpiStateObj::identify() {
    dropHeld();
    QByteArray out = bytes({d_.RDID});
    out.append(QByteArray(d_.NIDB, char(d_.DUMB & 0xFF)));
    transaction(out);
    ReadEcho();
    QString read;
    idRead_.clear();
    bool complete = true;
    for (int i = 1; i <= d_.NIDB; ++i) {
        const std::int16_t b = ReadEcho();
        if (i >= d_.IDM2.size())
            throw RuntimeError(RuntimeError::SubscriptOutOfRange, "Subscript out of range");
        if (b != d_.IDM2[i])
            MyError = true;
        read += hex2(b) + " ";
        idRead_.append(char(b));
        complete = complete && b >= 0;
    }
    if (Detect) {
        MyError = false;
        detected(complete);
        return;
    }
    // The bytes read are shown once the transaction that carried them has been acknowledged.
    if (EchoID && !MyError)
        heldSuccess_ = read;
    else if (EchoID) {
        s_.appendLine(read);
        s_.ui.txtRecvView.moveCaretToEnd();
    }
    if (!MyError) {
        state_ = Flash                                   ? CFG_SPI_STAGE_NEXT
                 : (BulkErase || Program || SectorErase) ? UNPROTECT
                 : (ReadSPI || VerifySPI)                ? CFG_SPI_OPEN_DATA_FILE
                                                         : CFG_SPI_PROG_HIGH;
        if (Flash && nextWanted(0) < byteCount())
            state_ = CFG_SPI_OPEN_DATA_FILE;
        return;
    }
    reportIdentification(complete);
    state_ = CFG_SPI_PROG_HIGH;
    discardInput();
    NextStep();
}

// A wrong identification says what was read; a known one names its device, and one of all
// 0xFF or 0x00 says that no chip answers at all.
void SpiStateObj::reportIdentification(bool complete) {
    if (const QString none = noFlashAnswering(idRead_); complete && !none.isEmpty()) {
        s_.fail(none);
        s_.prompter.tell(none, "ERROR", Prompter::Icon::Exclamation);
        return;
    }
    QString expected;
    for (int i = 1; i <= d_.NIDB; ++i)
        expected += hex2(d_.IDM2[i]) + " ";
    QString text = "ID code byte read does not match expected value: " + expected + "\r\nRead: " +
                   (complete ? idText(idRead_) : QString("not whole (the link lost bytes)"));
    if (complete) {
        catalog_ = readDeviceCatalog(s_.dataFolders.descriptionFiles());
        const QStringList others = devicesAnswering(catalog_, idRead_);
        if (!others.isEmpty())
            text += "\r\nThat is the identification of " + others.join(", ") + ".";
        if (EchoID && offerOtherDevice && others.size() == 1)
            offer_ = others[0];
    }
    s_.fail(text);
    s_.prompter.tell(text, "ERROR", Prompter::Icon::Exclamation);
}

// Detection reads the identification with the standard RDID opcode, as many bytes as the
// longest description compares, and names every description that matches it.
bool SpiStateObj::prepareDetect() {
    catalog_ = readDeviceCatalog(s_.dataFolders.descriptionFiles());
    if (catalog_.isEmpty()) {
        const QString text = "No flash description files (*.sfh) were found in " +
                             s_.dataFolders.folders().join(" or ") + ".";
        s_.refuse(text);
        s_.prompter.tell(text, "SPI Detect", Prompter::Icon::Critical);
        SetState(CFG_SPI_IDLE);
        return false;
    }
    d_ = SpiDescription{};
    d_.RDID = 0x9F;
    d_.NIDB = std::int16_t(longestIdentification(catalog_));
    d_.IDM1 = d_.IDM2 = QList<std::int16_t>(d_.NIDB + 1, 0);
    d_.ABSZ = 3;
    return true;
}

void SpiStateObj::detected(bool complete) {
    state_ = CFG_SPI_PROG_HIGH;
    detected_.clear();
    if (!complete) {
        s_.fail("The identification was not read whole: the link lost bytes.");
        return;
    }
    if (const QString none = noFlashAnswering(idRead_); !none.isEmpty()) {
        s_.fail(none);
        s_.prompter.tell(none, "ERROR", Prompter::Icon::Exclamation);
        return;
    }
    detected_ = devicesAnswering(catalog_, idRead_);
    if (detected_.isEmpty()) {
        const QString text =
            "No description file matches the identification " + idText(idRead_) + ".";
        s_.fail(text);
        s_.prompter.tell(text, "ERROR", Prompter::Icon::Exclamation);
        return;
    }
    heldSuccess_ = "Detected " + detected_.join(", ") + " (" + idText(idRead_) + ") ";
    if (offerOtherDevice && detected_.size() == 1)
        offer_ = detected_[0];
}
