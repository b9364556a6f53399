// A dbus-daemon of the test's own, with a configuration that activates no service, so that
// nothing but what the test registers answers on it.
#pragma once

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace quorvel::testing {

class private_session_bus {
public:
  // Empty address() when the daemon could not be started.
  private_session_bus() {
    if (!dir_.isValid()) return;
    const QString socket = dir_.filePath(QStringLiteral("bus"));
    QFile config(dir_.filePath(QStringLiteral("session.conf")));
    if (!config.open(QIODevice::WriteOnly)) return;
    config.write(QStringLiteral("<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus "
                                "Configuration 1.0//EN\" "
                                "\"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
                                "<busconfig><type>session</type><listen>unix:path=%1</listen>"
                                "<auth>EXTERNAL</auth><policy context=\"default\">"
                                "<allow send_destination=\"*\" eavesdrop=\"true\"/>"
                                "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy>"
                                "</busconfig>\n")
                     .arg(socket)
                     .toUtf8());
    config.close();
    daemon_.setProgram(QStringLiteral("dbus-daemon"));
    daemon_.setArguments({QStringLiteral("--nofork"), QStringLiteral("--print-address=1"),
                          QStringLiteral("--config-file=") + config.fileName()});
    daemon_.start();
    if (!daemon_.waitForStarted(5000)) return;
    while (!daemon_.canReadLine() && daemon_.waitForReadyRead(5000)) {
    }
    address_ = QString::fromUtf8(daemon_.readLine()).trimmed();
  }

  ~private_session_bus() {
    daemon_.terminate();
    if (!daemon_.waitForFinished(2000)) daemon_.kill();
  }

  QString address() const { return address_; }

private:
  QTemporaryDir dir_;
  QProcess daemon_;
  QString address_;
};

}  // namespace quorvel::testing
