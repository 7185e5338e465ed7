#pragma once

#include <QString>
#include <QStringList>

// Maps a port number to a system port. Entry n of the list is port n. The list comes from
// ZBPU_PORTS (colon-separated device paths) when set, else from the system's serial ports,
// sorted; a path given on the command line can be put in front.
class PortDirectory {
public:
    PortDirectory() = default;
    explicit PortDirectory(QStringList paths)
        : paths_(std::move(paths)) {}

    static PortDirectory fromEnvironment();

    // Empty when there is no such port.
    QString path(int number) const;
    int count() const { return int(paths_.size()); }
    // Puts a path in the list (once) and answers its number.
    int add(const QString& path);
    const QStringList& paths() const { return paths_; }

private:
    QStringList paths_;
};
