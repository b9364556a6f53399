// Qt's own texts in Chinese: the message box buttons and the edit boxes' context menus, from
// qtbase_zh_CN in Qt's translations folder; without the file everything still works in English.
#include "app/qt_translation.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTest>

#include <memory>

using namespace quorvel;

namespace {

QString ok_button_text() {
  QMessageBox box(QMessageBox::NoIcon, QStringLiteral("温馨提示："), QStringLiteral("x"),
                  QMessageBox::Ok);
  return box.button(QMessageBox::Ok)->text();
}

QStringList context_menu_texts() {
  QLineEdit edit(QStringLiteral("192.168.0.1"));
  const std::unique_ptr<QMenu> menu(edit.createStandardContextMenu());
  QStringList texts;
  for (const QAction* action : menu->actions())
    if (!action->isSeparator()) texts << action->text().section('\t', 0, 0);
  return texts;
}

}  // namespace

class test_qt_translation : public QObject {
  Q_OBJECT

private slots:
  // First, while nothing is installed: a folder without the file changes nothing.
  void without_the_file_qt_stays_english() {
    QTemporaryDir empty;
    QVERIFY(!install_qt_chinese_translation(empty.path()));
    QCOMPARE(ok_button_text(), QStringLiteral("OK"));
    QVERIFY(context_menu_texts().contains(QStringLiteral("&Copy")));
  }

  void with_the_file_qt_speaks_chinese() {
    if (!QFileInfo::exists(QDir(qt_translations_folder()).filePath("qtbase_zh_CN.qm")))
      QSKIP("qtbase_zh_CN.qm is not installed (package qt6-translations-l10n)");
    QVERIFY(install_qt_chinese_translation());
    QCOMPARE(ok_button_text(), QStringLiteral("确定"));
    const QStringList menu = context_menu_texts();
    for (const char* text : {"撤消(&U)", "剪切(&T)", "复制(&C)", "粘贴(&P)", "全选"})
      QVERIFY2(menu.filter(QString::fromUtf8(text)).size() == 1, qPrintable(menu.join(" | ")));
  }
};

QTEST_MAIN(test_qt_translation)
#include "test_qt_translation.moc"
