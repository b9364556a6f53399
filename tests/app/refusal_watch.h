// Dismisses the echo refusal (`win_echo_refusal`) once it shows, noting what it said.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>

namespace quorvel::testing {

struct seen_refusal {
  bool shown = false;
  QString title;
  QStringList lines;  // the texts, then the commands, in the order shown
  bool had_parent = true;
  Qt::WindowModality modality = Qt::NonModal;
};

inline QStringList refusal_lines(const QDialog& dialog) {
  QStringList lines;
  for (const QWidget* child : dialog.findChildren<QWidget*>()) {
    if (const auto* label = qobject_cast<const QLabel*>(child)) lines << label->text();
    if (const auto* command = qobject_cast<const QLineEdit*>(child)) lines << command->text();
  }
  return lines;
}

// Clicks 确定 on the next refusal; the watch ends with `owner` when none comes.
inline void dismiss_next_refusal(seen_refusal& seen, QObject* owner) {
  auto* poll = new QTimer(owner);
  poll->setInterval(10);
  QObject::connect(poll, &QTimer::timeout, [poll, &seen] {
    auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
    if (!dialog || dialog->objectName() != QStringLiteral("win_echo_refusal")) return;
    seen = {true, dialog->windowTitle(), refusal_lines(*dialog), dialog->parentWidget() != nullptr,
            dialog->windowModality()};
    dialog->findChild<QPushButton*>(QStringLiteral("btn_ok"))->click();
    poll->deleteLater();
  });
  poll->start();
}

}  // namespace quorvel::testing
