// Desktop notifications from a run with scripted results, received by a fake notification service
// of our own on a private session bus.
#include "app/desktop_notifier.h"
#include "app/main_window.h"
#include "gui_driving.h"
#include "private_session_bus.h"
#include "probe/episode_recorder.h"

#include <QCheckBox>
#include <QDBusConnection>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QVariantMap>

#include <memory>

using namespace quorvel;
using namespace quorvel::testing;

namespace {

constexpr const char* gateway = "127.0.0.5";
constexpr const char* external = "baidu.com";  // scripted, never resolved

// org.freedesktop.Notifications as far as Notify goes: keeps every call.
class fake_notifications : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
  struct call {
    QString app_name;
    uint replaces_id;
    QString app_icon, summary, body;
    QStringList actions;
    QVariantMap hints;
    int expire_timeout;
  };
  QList<call> calls;

public slots:
  uint Notify(const QString& app_name, uint replaces_id, const QString& app_icon,
              const QString& summary, const QString& body, const QStringList& actions,
              const QVariantMap& hints, int expire_timeout) {
    calls.append({app_name, replaces_id, app_icon, summary, body, actions, hints, expire_timeout});
    return static_cast<uint>(calls.size());
  }
};

QString recovered_body(const episode_record& record) {
  return QString::fromStdString("约:" + duration_seconds_text(record.duration_ms) + "秒，开始于 " +
                                record.start_text);
}

}  // namespace

class test_notifications : public QObject {
  Q_OBJECT

private:
  std::unique_ptr<private_session_bus> bus_;
  fake_notifications service_;
  QTemporaryDir dir_;

private slots:
  void initTestCase() {
    bus_ = std::make_unique<private_session_bus>();
    QVERIFY2(!bus_->address().isEmpty(), "dbus-daemon did not start");
    QDBusConnection connection = QDBusConnection::connectToBus(bus_->address(), "fake_service");
    QVERIFY(connection.isConnected());
    QVERIFY(connection.registerObject("/org/freedesktop/Notifications", &service_,
                                      QDBusConnection::ExportAllSlots));
    QVERIFY(connection.registerService("org.freedesktop.Notifications"));
  }

  void cleanupTestCase() {
    QDBusConnection::disconnectFromBus("fake_service");
    bus_.reset();
  }

  // Gateway: a 3-probe timeout, then 3 high pings, both recorded. External: a 2-probe timeout,
  // and high pings with that box unticked. Only the gateway's two episodes are announced.
  void run_announces_three_bad_in_a_row_and_the_recovery() {
    qputenv("DBUS_SESSION_BUS_ADDRESS", bus_->address().toUtf8());
    auto script = std::make_shared<result_script>();
    script->set(gateway, {20, -1, -1, -1, 600, 700, 800, 20});
    script->set(external, {-1, -1, 20, 600, 700, 800, 20});
    main_window window(
        main_window_setup{dir_.filePath("ini.ini").toStdString(), result_script::prober(script), {}});
    window.findChild<QLineEdit*>("编辑框")->setText(QString::fromUtf8(gateway));
    for (const char* box : {"选择框_wg_timeout", "选择框_wg_ping", "选择框_ww_timeout"})
      window.findChild<QCheckBox*>(box)->click();
    window.findChild<QPushButton*>("btn_start")->click();
    QTRY_VERIFY_WITH_TIMEOUT(window.channel(0).high_ping_records.size() == 1, 20000);
    window.findChild<QPushButton*>("btn_stop")->click();
    QTRY_COMPARE(service_.calls.size(), 4);

    const probe_channel& wg = window.channel(0);
    QCOMPARE(wg.timeout_records.size(), std::size_t{1});
    QCOMPARE(window.channel(1).timeout_records.size(), std::size_t{1});  // recorded, not announced
    const QString timeout_start = QString::fromStdString(wg.timeout_records[0].start_text);
    const QString high_start = QString::fromStdString(wg.high_ping_records[0].start_text);
    const QList<std::pair<QString, QString>> expected{
        {"网关连接中断", "开始于 " + timeout_start},
        {"网关已恢复", recovered_body(wg.timeout_records[0])},
        {"网关延迟过高", "开始于 " + high_start},
        {"网关已恢复", recovered_body(wg.high_ping_records[0])},
    };
    for (qsizetype i = 0; i < expected.size(); ++i) {
      const fake_notifications::call& call = service_.calls[i];
      QCOMPARE(call.summary, expected[i].first);
      QCOMPARE(call.body, expected[i].second);
      QCOMPARE(call.app_name, QStringLiteral("Quorvel"));
      QCOMPARE(call.replaces_id, 0u);
      QCOMPARE(call.app_icon, QStringLiteral("quorvel"));
      QCOMPARE(call.actions, QStringList());
      QCOMPARE(call.hints.size(), 2);
      QCOMPARE(call.hints.value("desktop-entry"), QVariant(QStringLiteral("quorvel")));
      QCOMPARE(call.hints.value("urgency").metaType(), QMetaType::fromType<uchar>());
      QCOMPARE(call.hints.value("urgency").value<uchar>(), uchar{1});
      QCOMPARE(call.expire_timeout, -1);
    }
    QTest::qWait(300);  // nothing late
    QCOMPARE(service_.calls.size(), 4);
  }

  void bus_address_data() {
    QTest::addColumn<QString>("variable");
    QTest::addColumn<bool>("runtime_bus");
    QTest::addColumn<QString>("expected");  // %1: the runtime folder
    QTest::newRow("from the variable") << "unix:path=/x/bus" << true << "unix:path=/x/bus";
    QTest::newRow("the user's bus socket") << "" << true << "unix:path=%1/bus";
    QTest::newRow("none: no bus is started") << "" << false << "";
  }

  void bus_address() {
    QFETCH(QString, variable);
    QFETCH(bool, runtime_bus);
    QFETCH(QString, expected);
    QTemporaryDir runtime;
    if (runtime_bus) {
      QFile socket(runtime.filePath("bus"));
      QVERIFY(socket.open(QIODevice::WriteOnly));
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", variable.toUtf8());
    qputenv("XDG_RUNTIME_DIR", runtime.path().toUtf8());
    QCOMPARE(desktop_notifier::session_bus_address(),
             expected.contains("%1") ? expected.arg(runtime.path()) : expected);
  }

  // Without an address nothing is connected or sent; with one the call goes out off the GUI
  // thread and arrives.
  void notifier_alone() {
    const qsizetype before = service_.calls.size();
    desktop_notifier silent{QString()};
    silent.notify("a", "b");
    desktop_notifier notifier{bus_->address()};
    notifier.notify("网关连接中断", "开始于 2026-12-11 10:25:05");
    QTRY_COMPARE(service_.calls.size(), before + 1);
    QCOMPARE(service_.calls.last().body, QStringLiteral("开始于 2026-12-11 10:25:05"));
  }
};

QTEST_MAIN(test_notifications)
#include "test_notifications.moc"
