#include "windows/echo_refusal.h"

#include <QClipboard>
#include <QDialog>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

namespace quorvel {

namespace {

constexpr int text_width = 560;

QLabel* add_text(QWidget* parent, QVBoxLayout* layout, const QString& name, const QString& text) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setWordWrap(true);
  label->setMinimumWidth(text_width);
  label->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  layout->addWidget(label);
  return label;
}

// A read-only one-line box keeps the command whole (it never wraps) and lets it be selected and
// copied with the keyboard; the button copies it without selecting.
void add_command(QWidget* parent, QVBoxLayout* layout, const echo_fix& fix, int number) {
  const QString suffix = QString::number(number);
  add_text(parent, layout, QStringLiteral("标签_fix_") + suffix, QString::fromStdString(fix.note));
  auto* row = new QHBoxLayout;
  auto* command = new QLineEdit(QString::fromStdString(fix.command), parent);
  command->setObjectName(QStringLiteral("edit_fix_") + suffix);
  command->setReadOnly(true);
  command->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  const QFontMetrics metrics(command->font());
  command->setMinimumWidth(metrics.horizontalAdvance(command->text()) + 2 * metrics.averageCharWidth() + 8);
  command->setCursorPosition(0);
  row->addWidget(command, 1);
  auto* copy = new QPushButton(QStringLiteral("复制"), parent);
  copy->setObjectName(QStringLiteral("btn_copy_") + suffix);
  copy->setAutoDefault(false);
  QObject::connect(copy, &QPushButton::clicked, command,
                   [command] { QGuiApplication::clipboard()->setText(command->text()); });
  row->addWidget(copy);
  layout->addLayout(row);
}

}  // namespace

std::unique_ptr<QDialog> make_echo_refusal(const echo_availability& echo) {
  auto dialog = std::make_unique<QDialog>();
  dialog->setObjectName(QStringLiteral("win_echo_refusal"));
  dialog->setWindowTitle(QStringLiteral("温馨提示："));
  dialog->setWindowModality(Qt::ApplicationModal);
  auto* layout = new QVBoxLayout(dialog.get());
  add_text(dialog.get(), layout, QStringLiteral("标签_refusal"),
           QStringLiteral("无法发送 ICMP 回显请求，测试没有开始。"));
  add_text(dialog.get(), layout, QStringLiteral("标签_reason"), QString::fromStdString(echo.reason));
  for (std::size_t i = 0; i < echo.fixes.size(); ++i)
    add_command(dialog.get(), layout, echo.fixes[i], static_cast<int>(i) + 1);
  auto* ok = new QPushButton(QStringLiteral("确定"), dialog.get());
  ok->setObjectName(QStringLiteral("btn_ok"));
  ok->setDefault(true);
  QObject::connect(ok, &QPushButton::clicked, dialog.get(), &QDialog::accept);
  layout->addWidget(ok, 0, Qt::AlignRight);
  ok->setFocus();
  return dialog;
}

void show_echo_refusal(const echo_availability& echo) { make_echo_refusal(echo)->exec(); }

}  // namespace quorvel
