// The echo probe as a normal user whose copy of the program carries CAP_NET_RAW as permitted only
// (setcap cap_net_raw+p, as the package's postinst does), with ICMP datagram sockets closed to
// every group (net.ipv4.ping_group_range "1 0"), against the project's responder on loopback.
// The parent runs as root in a private namespace; the child is started through setpriv as uid
// 65534 from a copy of this program on a private tmpfs (no nosuid there).
#include "echo_responder.h"
#include "probe/echo_probe.h"

#include <QtTest>

#include <linux/capability.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

using namespace quorvel;
using quorvel::testing::echo_action;
using quorvel::testing::echo_responder;
using quorvel::testing::echo_script;

namespace {

const char* const child_option = "--probe-as-child";
constexpr int unprivileged_id = 65534;

// Whether CAP_NET_RAW is in the named set ("CapEff", "CapPrm") of the calling thread.
bool raw_capability_in(const char* set) {
  std::ifstream status("/proc/thread-self/status");
  std::string line;
  const std::string wanted = std::string(set) + ":";
  while (std::getline(status, line)) {
    if (line.rfind(wanted, 0) != 0) continue;
    const unsigned long long bits = std::stoull(line.substr(wanted.size()), nullptr, 16);
    return (bits >> CAP_NET_RAW) & 1u;
  }
  return false;
}

const char* kind_name(echo_socket_kind kind) {
  switch (kind) {
    case echo_socket_kind::datagram: return "datagram";
    case echo_socket_kind::raw: return "raw";
    default: return "none";
  }
}

// Child mode: one probe on the main thread, one on a thread of its own, and the capability sets
// of each thread before and after.
int probe_as_child(const char* first, const char* second) {
  std::printf("uid %d\n", static_cast<int>(getuid()));
  std::printf("start permitted %d effective %d\n", raw_capability_in("CapPrm"), raw_capability_in("CapEff"));
  std::printf("kind %s\n", kind_name(check_echo_available().kind));
  std::printf("main %d\n", echo_probe(first, 2000));
  std::thread([second] {
    const std::int32_t result = echo_probe(second, 2000);
    std::printf("thread %d effective %d\n", result, raw_capability_in("CapEff"));
  }).join();
  std::printf("end permitted %d effective %d\n", raw_capability_in("CapPrm"), raw_capability_in("CapEff"));
  return 0;
}

}  // namespace

class test_echo_capability : public QObject {
  Q_OBJECT

private:
  std::unique_ptr<echo_responder> responder_;
  QString folder_;

  // A copy of this program on the private tmpfs, with the given file capability (or none).
  QString program_copy(const QString& name, const QString& capability) {
    const QString copy = folder_ + u'/' + name;
    QFile::remove(copy);
    if (!QFile::copy(QStringLiteral("/proc/self/exe"), copy)) return {};
    QFile::setPermissions(copy, QFile::permissions(copy) | QFile::ExeOther | QFile::ReadOther | QFile::ExeGroup |
                                    QFile::ReadGroup | QFile::ExeOwner);
    if (!capability.isEmpty() && QProcess::execute(QStringLiteral("setcap"), {capability, copy}) != 0) return {};
    return copy;
  }

private slots:
  void initTestCase() {
    responder_ = std::make_unique<echo_responder>();
    QVERIFY2(responder_->running(), responder_->failure().c_str());
    std::ofstream("/proc/sys/net/ipv4/ping_group_range") << "1 0";
    folder_ = QStringLiteral("/tmp/quorvel-capability-test");
    QDir().mkpath(folder_);
    QVERIFY2(mount("tmpfs", folder_.toLocal8Bit().constData(), "tmpfs", 0, "mode=0755") == 0,
             std::strerror(errno));
  }

  void cleanupTestCase() { umount2(folder_.toLocal8Bit().constData(), MNT_DETACH); }

  void probe_as_normal_user_data() {
    QTest::addColumn<QString>("capability");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("permitted only") << "cap_net_raw+p"
                                    << QStringList{"uid 65534", "start permitted 1 effective 0", "kind raw",
                                                   "main ok", "thread ok effective 0",
                                                   "end permitted 1 effective 0"};
    QTest::newRow("no capability") << ""
                                   << QStringList{"uid 65534", "start permitted 0 effective 0", "kind none",
                                                  "main -1", "thread -1 effective 0",
                                                  "end permitted 0 effective 0"};
  }

  void probe_as_normal_user() {
    QFETCH(QString, capability);
    QFETCH(QStringList, expected);
    const QString copy = program_copy(QStringLiteral("quorvel-probe"), capability);
    QVERIFY(!copy.isEmpty());
    responder_->set_script("127.0.9.1", echo_script{echo_action::reply, 40, 0});
    responder_->set_script("127.0.9.2", echo_script{echo_action::reply, 80, 0});
    const std::size_t requests_before = responder_->request_count();
    const QString id = QString::number(unprivileged_id);
    QProcess child;
    child.start(QStringLiteral("setpriv"), {"--reuid=" + id, "--regid=" + id, "--clear-groups", copy,
                                            QString::fromLatin1(child_option), "127.0.9.1", "127.0.9.2"});
    QVERIFY(child.waitForFinished(15000));
    const QString errors = QString::fromLocal8Bit(child.readAllStandardError());
    QCOMPARE(child.exitCode(), 0);
    QStringList lines = QString::fromLocal8Bit(child.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
    // Round trips: at least the responder's hold time, well under a second more.
    static const QRegularExpression round_trip(QStringLiteral("^(main|thread) (\\d+)"));
    for (QString& line : lines) {
      const auto match = round_trip.match(line);
      if (!match.hasMatch()) continue;
      const int result = match.captured(2).toInt();
      const int hold = match.captured(1) == QStringLiteral("main") ? 40 : 80;
      QVERIFY2(result >= hold && result < hold + 500, qPrintable(line));
      line.replace(match.capturedStart(2), match.capturedLength(2), QStringLiteral("ok"));
    }
    QVERIFY2(lines == expected, qPrintable(lines.join(u'\n') + u'\n' + errors));
    const std::size_t sent = expected.contains(QStringLiteral("main ok")) ? 2 : 0;
    QCOMPARE(responder_->request_count() - requests_before, sent);
  }
};

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], child_option) == 0) return probe_as_child(argv[2], argv[3]);
  test_echo_capability test;
  return QTest::qExec(&test, argc, argv);
}

#include "test_echo_capability.moc"
