// A private session bus (its own dbus-daemon) named in DBUS_SESSION_BUS_ADDRESS while it lives.
#pragma once

#include <QProcess>
#include <QString>

class PrivateSessionBus {
  public:
    PrivateSessionBus() {
        daemon_.start("dbus-daemon", {"--session", "--nofork", "--print-address=1"});
        if (daemon_.waitForReadyRead(10000)) address = QString::fromUtf8(daemon_.readLine()).trimmed();
        qputenv("DBUS_SESSION_BUS_ADDRESS", address.toUtf8());
    }
    ~PrivateSessionBus() {
        daemon_.kill();
        daemon_.waitForFinished();
    }
    QString address;  // empty when the daemon did not start

  private:
    QProcess daemon_;
};
