#pragma once

#include <QMap>
#include <QString>
#include <optional>

// What a run left unfinished on a port: a transfer the controller or the BPI server still
// expects, which makes the board deaf to commands until it has its bytes. The next run on that
// port, window or command line, names it and can finish it. Kept in memory only, unless a file
// is given (the programs give one beside their settings).
class StuckTransfers {
public:
    struct Entry {
        bool server = false; // the BPI server, else the controller
        std::int64_t bytes = 0;
        int burst = 0; // the server's burst, which its filler must follow
        // A chip erase left running: until when (ms since the epoch) it may go on.
        qint64 erasingUntilMs = 0;
    };

    void setFile(const QString& path) { file_ = path; }
    static QString userFile();

    void record(const QString& port, const Entry& entry);
    std::optional<Entry> find(const QString& port) const;
    void clear(const QString& port);

private:
    QString file_;
    QMap<QString, Entry> memory_;
};
