// How long the GUI thread is held by desktop notifications when the desktop's service is missing,
// silent or unreachable: per case, 50 notifications over a second while a 1 ms timer measures the
// longest gap of the event loop, the longest notify() call, and the notifier's destruction.
#include "app/desktop_notifier.h"
#include "private_session_bus.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstring>

using namespace quorvel;

namespace {

using steady = std::chrono::steady_clock;

double ms_between(steady::time_point a, steady::time_point b) {
  return std::chrono::duration<double, std::milli>(b - a).count();
}

// Takes every Notify and never answers it.
class silent_notifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")
public slots:
  uint Notify(const QString&, uint, const QString&, const QString&, const QString&,
              const QStringList&, const QVariantMap&, int, const QDBusMessage& message) {
    message.setDelayedReply(true);
    return 0;
  }
};

// A socket that takes connections into its backlog and never says a word.
int mute_listener(const QString& path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.toUtf8().constData(), sizeof(address.sun_path) - 1);
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 || listen(fd, 8) != 0)
    return -1;
  return fd;
}

void measure(const char* name, const QString& address) {
  auto notifier = std::make_unique<desktop_notifier>(address);
  double longest_gap = 0, longest_call = 0;
  auto last = steady::now();
  QTimer beat;
  beat.setTimerType(Qt::PreciseTimer);
  QObject::connect(&beat, &QTimer::timeout, [&] {
    const auto now = steady::now();
    longest_gap = std::max(longest_gap, ms_between(last, now));
    last = now;
  });
  QTimer sender;
  QObject::connect(&sender, &QTimer::timeout, [&] {
    const auto before = steady::now();
    notifier->notify(QStringLiteral("网关连接中断"), QStringLiteral("开始于 2026-12-11 10:25:05"));
    longest_call = std::max(longest_call, ms_between(before, steady::now()));
  });
  beat.start(1);
  sender.start(20);
  QElapsedTimer run;
  run.start();
  while (run.elapsed() < 1000) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 5);
  sender.stop();
  beat.stop();
  const auto before_end = steady::now();
  notifier.reset();
  std::printf("  %-38s longest gap %5.1f ms, longest notify() %6.3f ms, end %5.1f ms\n", name,
              longest_gap, longest_call, ms_between(before_end, steady::now()));
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  testing::private_session_bus bus;
  if (bus.address().isEmpty()) {
    std::fprintf(stderr, "dbus-daemon did not start\n");
    return 1;
  }
  std::printf("Desktop notifications, 50 over one second per case:\n");
  measure("no session bus", QString());
  measure("bus socket missing", QStringLiteral("unix:path=/nonexistent/quorvel-bus"));
  measure("bus without a notification service", bus.address());

  QThread service_thread;
  silent_notifications silent;
  silent.moveToThread(&service_thread);
  service_thread.start();
  QDBusConnection service = QDBusConnection::connectToBus(bus.address(), "silent_service");
  service.registerObject("/org/freedesktop/Notifications", &silent, QDBusConnection::ExportAllSlots);
  service.registerService("org.freedesktop.Notifications");
  measure("a service that never answers", bus.address());
  QDBusConnection::disconnectFromBus("silent_service");
  service_thread.quit();
  service_thread.wait();

  const QString mute_path = QStringLiteral("/tmp/quorvel-mute-bus-%1").arg(getpid());
  const int mute = mute_listener(mute_path);
  measure("a bus that never speaks", QStringLiteral("unix:path=") + mute_path);
  std::fflush(stdout);
  unlink(mute_path.toUtf8().constData());
  // The notifier thread still waits on the mute bus; the process end takes it.
  _exit(mute >= 0 ? 0 : 1);
}

#include "notify_stall_bench.moc"
