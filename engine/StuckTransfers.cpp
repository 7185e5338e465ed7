#include "engine/StuckTransfers.h"

#include <QSettings>
#include <QStandardPaths>

namespace {
// Port names hold slashes (a pseudo-terminal's path): not as groups of the file.
QString keyOf(const QString& port) {
    return QString(port).replace('/', '|');
}
} // namespace

QString StuckTransfers::userFile() {
    return QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation) +
           "/Zelto/zbpu-ports.ini";
}

void StuckTransfers::record(const QString& port, const Entry& entry) {
    if (file_.isEmpty()) {
        memory_[port] = entry;
        return;
    }
    QSettings store(file_, QSettings::IniFormat);
    store.beginGroup(keyOf(port));
    store.setValue("whose", entry.server ? "server" : "controller");
    store.setValue("bytes", qint64(entry.bytes));
    store.setValue("burst", entry.burst);
    store.setValue("erasingUntil", entry.erasingUntilMs);
}

std::optional<StuckTransfers::Entry> StuckTransfers::find(const QString& port) const {
    if (file_.isEmpty()) {
        const auto it = memory_.find(port);
        return it == memory_.end() ? std::nullopt : std::optional<Entry>(*it);
    }
    QSettings store(file_, QSettings::IniFormat);
    store.beginGroup(keyOf(port));
    const std::int64_t bytes = store.value("bytes", 0).toLongLong();
    const qint64 erasingUntil = store.value("erasingUntil", 0).toLongLong();
    if (bytes <= 0 && erasingUntil <= 0)
        return std::nullopt;
    return Entry{store.value("whose").toString() == "server", bytes,
                 store.value("burst", 0).toInt(), erasingUntil};
}

void StuckTransfers::clear(const QString& port) {
    memory_.remove(port);
    if (file_.isEmpty())
        return;
    QSettings store(file_, QSettings::IniFormat);
    store.remove(keyOf(port));
}
