// Keyboard use of the run buttons: when the focused button disables itself, the focus goes to
// the button that now does the job, so a second Space never lands on 程序说明.
#include "app/main_window.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <memory>

using namespace quorvel;

class test_button_focus : public QObject {
  Q_OBJECT

private slots:
  void init() {
    dir_ = std::make_unique<QTemporaryDir>();
    const QString ini = dir_->filePath("ini.ini");
    QFile file(ini);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("[pingtest]\ngway_ip=127.0.0.5\n");
    file.close();
    main_window_setup setup;  // the empty prober sends nothing
    setup.settings_file = ini.toStdString();
    window_ = std::make_unique<main_window>(std::move(setup));
    window_->show();
    QApplication::setActiveWindow(window_.get());
    QVERIFY(QTest::qWaitForWindowActive(window_.get()));
  }

  void cleanup() { window_.reset(); }

  void start_hands_the_focus_to_stop() {
    QPushButton* start = button("btn_start");
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Space);
    QVERIFY(window_->test_running());
    QCOMPARE(QApplication::focusWidget(), button("btn_stop"));
  }

  void stop_hands_the_focus_back_to_start_once_stopped() {
    QPushButton* start = button("btn_start");
    start->setFocus();
    QTest::keyClick(start, Qt::Key_Space);
    QPushButton* stop = button("btn_stop");
    QCOMPARE(QApplication::focusWidget(), stop);
    // While the stop waits for the channels' last ticks, no button holds the focus.
    QWidget* focus_while_stopping = stop;
    QTimer::singleShot(100, [&] { focus_while_stopping = QApplication::focusWidget(); });
    QTest::keyClick(stop, Qt::Key_Space);
    QVERIFY(!window_->test_running());
    QVERIFY(start->isEnabled());
    QCOMPARE(focus_while_stopping, static_cast<QWidget*>(window_.get()));
    QCOMPARE(QApplication::focusWidget(), start);
    // And the next Space starts a new run rather than opening the notes.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    QVERIFY(window_->test_running());
    QVERIFY(!window_->findChild<QWidget*>("win_readme"));
  }

private:
  QPushButton* button(const char* name) { return window_->findChild<QPushButton*>(name); }

  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<main_window> window_;
};

QTEST_MAIN(test_button_focus)
#include "test_button_focus.moc"
