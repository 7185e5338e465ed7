#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QLocalServer;
class QWidget;

// One running copy per user: the first holds a lock file in the temp folder and listens on a
// local socket; a second learns that the first runs and asks it to come to the front.
class SingleInstance : public QObject {
    Q_OBJECT
public:
    explicit SingleInstance(const QString& key = defaultKey(), QObject* parent = nullptr);
    ~SingleInstance() override;

    // True when this is the only instance; it then answers raise requests.
    bool tryLock();
    // Asks the running instance to raise its window; true when the request was delivered.
    bool raiseRunning();

    // Shows, restores and activates a window: what the running instance does when asked.
    static void bringToFront(QWidget* window);
    static QString defaultKey();

    // Called, like raiseRequested(), when another instance asks this one to come forward.
    std::function<void()> onRaise;

signals:
    void raiseRequested();

private:
    void readRequest();

    QString key_;
    QLockFile lock_;
    std::unique_ptr<QLocalServer> server_;
};
