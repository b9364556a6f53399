// Desktop notifications through org.freedesktop.Notifications on the session bus. Connecting and
// sending happen on a thread of their own, so a missing, slow or silent service never holds up
// the GUI thread; nothing is ever shown about a failure.
#pragma once

#include <QObject>
#include <QString>

class QThread;

namespace quorvel {

class desktop_notifier : public QObject {
  Q_OBJECT
public:
  // The session bus from DBUS_SESSION_BUS_ADDRESS, else the per-user bus socket under
  // XDG_RUNTIME_DIR; empty when neither exists. Never starts a bus.
  static QString session_bus_address();

  // With an empty address every notify() does nothing.
  explicit desktop_notifier(QString bus_address, QObject* parent = nullptr);
  ~desktop_notifier() override;

  // Returns at once; the notification goes out on the notifier's thread.
  void notify(const QString& summary, const QString& body);

private:
  class sender;
  QThread* thread_ = nullptr;
  sender* sender_ = nullptr;
};

}  // namespace quorvel
