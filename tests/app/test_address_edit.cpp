// The gateway address box: first line of a paste, the default gateways in its context menu, and
// in the main window what it saves (the stored bytes at start, the box's text on a change).
#include "app/address_edit.h"
#include "app/main_window.h"

#include <QApplication>
#include <QClipboard>
#include <QFile>
#include <QMenu>
#include <QMimeData>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <arpa/inet.h>

#include <cstdio>
#include <memory>
#include <string>

using namespace quorvel;

namespace {

// A routing table with default routes via the given addresses (documentation addresses only).
std::string route_table(std::initializer_list<const char*> gateways) {
  std::string table = "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n";
  table += "lo\t0000007F\t00000000\t0001\t0\t0\t0\t000000FF\t0\t0\t0\n";
  int metric = 100;
  for (const char* gateway : gateways) {
    in_addr address{};
    inet_pton(AF_INET, gateway, &address);
    char line[128];
    std::snprintf(line, sizeof line, "eth0\t00000000\t%08X\t0003\t0\t0\t%d\t00000000\t0\t0\t0\n", address.s_addr,
                  metric++);
    table += line;
  }
  return table;
}

QStringList texts_after_qt_items(QMenu& menu) {
  QStringList texts;
  bool after_separator = false;
  const QList<QAction*> actions = menu.actions();
  for (qsizetype i = actions.size() - 1; i >= 0 && !actions[i]->isSeparator(); --i) {
    texts.prepend(actions[i]->text());
    after_separator = true;
  }
  return after_separator ? texts : QStringList();
}

// One of Qt's own items, found by its text as QLineEdit has it, translated or not.
QAction* qt_item(QMenu& menu, const char* source_text) {
  const QString text = QCoreApplication::translate("QLineEdit", source_text);
  for (QAction* action : menu.actions())
    if (action->text().section(u'\t', 0, 0) == text) return action;
  return nullptr;
}

QByteArray file_bytes(const QString& path) {
  QFile file(path);
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

class test_address_edit : public QObject {
  Q_OBJECT

private slots:
  void paste_takes_the_first_line_data();
  void paste_takes_the_first_line();
  void drop_takes_the_first_line();
  void gateways_in_the_context_menu_data();
  void gateways_in_the_context_menu();
  void picking_a_gateway_is_typing();
  void window_saves_the_stored_bytes_data();
  void window_saves_the_stored_bytes();
  void window_saves_a_picked_gateway_and_a_pasted_line();
};

// How the box ends for each way of pasting: Ctrl+V, Shift+Insert and the menu's Paste.
void test_address_edit::paste_takes_the_first_line_data() {
  QTest::addColumn<QString>("way");
  QTest::addColumn<QString>("before");
  QTest::addColumn<int>("cursor");
  QTest::addColumn<int>("selected");  // characters selected after the cursor
  QTest::addColumn<QString>("clipboard");
  QTest::addColumn<QString>("after");
  for (const char* way : {"Ctrl+V", "Shift+Insert", "menu"}) {
    const auto row = [way](const char* name) { return &QTest::addRow("%s, %s", way, name); };
    *row("line break") << way << "" << 0 << 0 << "127.0.0.5\nsecond line" << "127.0.0.5";
    *row("CRLF over a selection") << way << "127.0.0.1" << 0 << 9 << "127.0.0.7\r\nx" << "127.0.0.7";
    *row("inside the text") << way << "127.1" << 3 << 0 << ".0.0\nzz" << "127.0.0.1";
    *row("carriage return") << way << "" << 0 << 0 << "127.0.0.2\rb" << "127.0.0.2";
    *row("line separator") << way << "" << 0 << 0 << QString("127.0.0.3") + QChar::LineSeparator + "b" << "127.0.0.3";
    *row("no line break") << way << "" << 0 << 0 << "127.0.0.4 x" << "127.0.0.4 x";
    *row("break first, nothing selected") << way << "127.0.0.1" << 9 << 0 << "\nabc" << "127.0.0.1";
    *row("break first, over a selection") << way << "127.0.0.1" << 0 << 9 << "\nabc" << "";
  }
}

void test_address_edit::paste_takes_the_first_line() {
  QFETCH(QString, way);
  QFETCH(QString, before);
  QFETCH(int, cursor);
  QFETCH(int, selected);
  QFETCH(QString, clipboard);
  QFETCH(QString, after);
  address_edit box;
  box.setText(before);
  box.setSelection(cursor, selected);
  if (selected == 0) box.setCursorPosition(cursor);
  QGuiApplication::clipboard()->setText(clipboard);
  QSignalSpy edited(&box, &QLineEdit::textEdited);
  if (way == "Ctrl+V") {
    QTest::keyClick(&box, Qt::Key_V, Qt::ControlModifier);
  } else if (way == "Shift+Insert") {
    QTest::keyClick(&box, Qt::Key_Insert, Qt::ShiftModifier);
  } else {
    std::unique_ptr<QMenu> menu(box.make_context_menu());
    QAction* paste = qt_item(*menu, "&Paste");
    QVERIFY(paste);
    paste->trigger();
  }
  QCOMPARE(box.text(), after);
  QCOMPARE(edited.isEmpty(), after == before);
}

void test_address_edit::drop_takes_the_first_line() {
  address_edit box;
  box.resize(252, 24);
  QMimeData data;
  data.setText(QStringLiteral("127.0.0.9\nrest"));
  box.show();
  QDragEnterEvent enter(QPoint(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&box, &enter);
  QDropEvent drop(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
  QCoreApplication::sendEvent(&box, &drop);
  QCOMPARE(box.text(), QStringLiteral("127.0.0.9"));
  QVERIFY(drop.isAccepted());
}

void test_address_edit::gateways_in_the_context_menu_data() {
  QTest::addColumn<QByteArray>("table");
  QTest::addColumn<QStringList>("items");
  QTest::addColumn<bool>("enabled");
  QTest::newRow("one gateway") << QByteArray::fromStdString(route_table({"192.0.2.1"}))
                               << QStringList{"使用默认网关 192.0.2.1"} << true;
  QTest::newRow("two gateways") << QByteArray::fromStdString(route_table({"192.0.2.1", "198.51.100.7"}))
                                << QStringList{"使用默认网关 192.0.2.1", "使用默认网关 198.51.100.7"} << true;
  QTest::newRow("no default route") << QByteArray::fromStdString(route_table({})) << QStringList{"没有默认网关"}
                                    << false;
  QTest::newRow("no table") << QByteArray() << QStringList{"没有默认网关"} << false;
}

void test_address_edit::gateways_in_the_context_menu() {
  QFETCH(QByteArray, table);
  QFETCH(QStringList, items);
  QFETCH(bool, enabled);
  address_edit box;
  box.set_route_source([table] { return table.toStdString(); });
  std::unique_ptr<QMenu> menu(box.make_context_menu());
  QCOMPARE(texts_after_qt_items(*menu), items);
  for (qsizetype i = 0; i < items.size(); ++i)
    QCOMPARE(menu->actions()[menu->actions().size() - items.size() + i]->isEnabled(), enabled);
  for (const char* text : {"&Undo", "Cu&t", "&Copy", "&Paste", "Select All"})
    QVERIFY2(qt_item(*menu, text), text);
}

void test_address_edit::picking_a_gateway_is_typing() {
  address_edit box;
  box.setText(QStringLiteral("192.0.2.200"));
  box.set_route_source([] { return route_table({"192.0.2.1", "198.51.100.7"}); });
  QSignalSpy edited(&box, &QLineEdit::textEdited);
  std::unique_ptr<QMenu> menu(box.make_context_menu());
  menu->actions().back()->trigger();
  QCOMPARE(box.text(), QStringLiteral("198.51.100.7"));
  QCOMPARE(edited.size(), 1);
  box.undo();
  QCOMPARE(box.text(), QStringLiteral("192.0.2.200"));
}

// The address written back at start is the stored bytes, whatever the box makes of them; the
// first change the user makes writes the box's text.
void test_address_edit::window_saves_the_stored_bytes_data() {
  QTest::addColumn<QByteArray>("stored");
  QTest::addColumn<QString>("shown");
  QTest::newRow("not UTF-8") << QByteArray("127.0.0.1\xff\xfe") << QString("127.0.0.1\uFFFD\uFFFD");
  QTest::newRow("code page 936") << QByteArray("\xcd\xf8\xb9\xd8") << QString("\uFFFD\uFFFD\uFFFD\uFFFD");
  QTest::newRow("overlong form") << QByteArray("127.0.0.1\xc0\xae") << QString("127.0.0.1\uFFFD\uFFFD");
  QTest::newRow("UTF-8") << QByteArray("网关 127.0.0.1") << QString("网关 127.0.0.1");
  QTest::newRow("plain") << QByteArray("127.0.0.1") << QString("127.0.0.1");
}

void test_address_edit::window_saves_the_stored_bytes() {
  QFETCH(QByteArray, stored);
  QFETCH(QString, shown);
  QTemporaryDir dir;
  const QString ini = dir.filePath(QStringLiteral("ini.ini"));
  const QByteArray file = "[pingtest]\ngway_ip=" + stored + "\ngway_pi_start=0\ngway_ou_start=0\n"
                          "outer_pi_start=0\nouter_ou_start=0\n";
  QFile out(ini);
  QVERIFY(out.open(QIODevice::WriteOnly));
  out.write(file);
  out.close();
  main_window window(main_window_setup{ini.toStdString(), {}, {}});
  auto* box = window.findChild<address_edit*>(QStringLiteral("编辑框"));
  QVERIFY(box);
  QCOMPARE(box->text(), shown);
  QCOMPARE(file_bytes(ini), file);
  box->setFocus();
  box->end(false);
  QTest::keyClick(box, Qt::Key_5);
  QByteArray typed = file;
  typed.replace("gway_ip=" + stored, "gway_ip=" + (shown + "5").toUtf8());
  QCOMPARE(file_bytes(ini), typed);
}

void test_address_edit::window_saves_a_picked_gateway_and_a_pasted_line() {
  QTemporaryDir dir;
  const QString ini = dir.filePath(QStringLiteral("ini.ini"));
  main_window window(main_window_setup{ini.toStdString(), {}, {}});
  auto* box = window.findChild<address_edit*>(QStringLiteral("编辑框"));
  QVERIFY(box);
  box->set_route_source([] { return route_table({"192.0.2.1"}); });
  std::unique_ptr<QMenu> menu(box->make_context_menu());
  menu->actions().back()->trigger();
  QVERIFY(file_bytes(ini).contains("\ngway_ip=192.0.2.1\n"));
  box->selectAll();
  QGuiApplication::clipboard()->setText(QStringLiteral("127.0.0.8\n127.0.0.9"));
  QTest::keyClick(box, Qt::Key_V, Qt::ControlModifier);
  QCOMPARE(box->text(), QStringLiteral("127.0.0.8"));
  QVERIFY(file_bytes(ini).contains("\ngway_ip=127.0.0.8\n"));
}

QTEST_MAIN(test_address_edit)

#include "test_address_edit.moc"
