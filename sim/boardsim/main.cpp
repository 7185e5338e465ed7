#include "BoardSimOptions.h"
#include "FlashImages.h"
#include "PseudoTerminal.h"
#include "PtyBridge.h"
#include "QuitSignals.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <cstdio>
#include <stdexcept>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const BoardSimOptions options = parseBoardSimOptions(app.arguments());
    try {
        Board board(options.board);
        loadFlashImage(board.spi().array(), options.spiImage);
        loadFlashImage(board.bpiFlash().array(), options.bpiImage);
        if (options.verbose)
            board.onCommand = [](const QString& text) {
                std::fprintf(stderr, "%s\n", qPrintable(text));
            };

        PseudoTerminal terminal;
        if (!options.link.isEmpty()) {
            QFile::remove(options.link);
            if (!terminal.linkAs(options.link))
                std::fprintf(stderr, "zbpu-boardsim: cannot link %s\n", qPrintable(options.link));
        }
        std::printf("%s\n", qPrintable(terminal.path()));
        std::fflush(stdout);

        // Board time starts with the bridge: fault times are told in wall-clock time.
        const qint64 startMs = QDateTime::currentMSecsSinceEpoch();
        PtyBridge bridge(board, terminal);
        quitOnSignals();
        const int status = app.exec();

        if (!options.link.isEmpty())
            QFile::remove(options.link);
        std::fprintf(stderr, "zbpu-boardsim: %lld bytes from the host, %lld bytes to the host\n",
                     static_cast<long long>(board.hostBytes().size()),
                     static_cast<long long>(bridge.sentBytes()));
        if (board.line().faults() > 0)
            std::fprintf(stderr, "zbpu-boardsim: %d faults, the last at %lld ms since the epoch\n",
                         board.line().faults(),
                         static_cast<long long>(startMs + board.line().lastFaultUs() / 1000));
        bool saved = saveFlashImage(board.spi().array(), options.spiImage);
        saved = saveFlashImage(board.bpiFlash().array(), options.bpiImage) && saved;
        if (!saved)
            std::fprintf(stderr, "zbpu-boardsim: could not save a flash image\n");
        return saved ? status : 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zbpu-boardsim: %s\n", e.what());
        return 1;
    }
}
