#include "app/desktop_notifier.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QFileInfo>
#include <QThread>
#include <QVariantMap>

#include <atomic>

namespace quorvel {

namespace {

// A wait for a notifier thread stuck in connecting to a bus that does not answer; past it the
// thread is left to the end of the process.
constexpr unsigned long thread_end_wait_ms = 200;

QDBusMessage notify_message(const QString& summary, const QString& body) {
  QDBusMessage message = QDBusMessage::createMethodCall(
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("/org/freedesktop/Notifications"),
      QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
  const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("quorvel")},
                          {QStringLiteral("urgency"), QVariant::fromValue<uchar>(1)}};
  message << QStringLiteral("Quorvel") << 0u << QStringLiteral("quorvel") << summary << body
          << QStringList() << hints << -1;
  return message;
}

std::atomic<int> connection_serial{0};

}  // namespace

// Lives on the notifier's thread and owns the bus connection there.
class desktop_notifier::sender : public QObject {
public:
  explicit sender(QString address)
      : address_(std::move(address)),
        name_(QStringLiteral("quorvel-notifier-%1").arg(connection_serial.fetch_add(1))) {}
  ~sender() override {
    if (connected_) QDBusConnection::disconnectFromBus(name_);
  }

  void send(const QString& summary, const QString& body) {
    if (!connect_once()) return;
    // The reply, if any, tells nothing worth waiting for.
    QDBusConnection(name_).send(notify_message(summary, body));
  }

private:
  bool connect_once() {
    if (connected_ && QDBusConnection(name_).isConnected()) return true;
    if (connected_) QDBusConnection::disconnectFromBus(name_);
    connected_ = QDBusConnection::connectToBus(address_, name_).isConnected();
    if (!connected_) QDBusConnection::disconnectFromBus(name_);
    return connected_;
  }

  const QString address_;
  const QString name_;
  bool connected_ = false;
};

QString desktop_notifier::session_bus_address() {
  const QString address = qEnvironmentVariable("DBUS_SESSION_BUS_ADDRESS");
  if (!address.isEmpty()) return address;
  const QString runtime_dir = qEnvironmentVariable("XDG_RUNTIME_DIR");
  if (runtime_dir.isEmpty()) return {};
  const QString socket = runtime_dir + QStringLiteral("/bus");
  if (!QFileInfo(socket).exists()) return {};
  return QStringLiteral("unix:path=") + socket;
}

desktop_notifier::desktop_notifier(QString bus_address, QObject* parent) : QObject(parent) {
  if (bus_address.isEmpty()) return;
  thread_ = new QThread;
  thread_->setObjectName(QStringLiteral("desktop_notifier"));
  sender_ = new sender(std::move(bus_address));
  sender_->moveToThread(thread_);
  thread_->start();
}

desktop_notifier::~desktop_notifier() {
  if (!thread_) return;
  thread_->quit();
  if (!thread_->wait(thread_end_wait_ms)) return;  // left running; the process end takes it
  delete sender_;
  delete thread_;
}

void desktop_notifier::notify(const QString& summary, const QString& body) {
  if (!sender_) return;
  QMetaObject::invokeMethod(
      sender_, [target = sender_, summary, body] { target->send(summary, body); },
      Qt::QueuedConnection);
}

}  // namespace quorvel
