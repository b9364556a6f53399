#include "app/address_edit.h"

#include "probe/default_gateway.h"

#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>

#include <utility>

namespace quorvel {

namespace {

bool is_line_break(QChar ch)
{
  return ch == u'\n' || ch == u'\r' || ch == QChar(0x0085) || ch == QChar::LineSeparator ||
      ch == QChar::ParagraphSeparator;
}

// Qt's own Paste item, known by its text as QLineEdit gives it (translated or not).
QAction* paste_item(QMenu& menu)
{
  const QString paste = QCoreApplication::translate("QLineEdit", "&Paste");
  for (QAction* action : menu.actions())
    if (action->text().section(u'\t', 0, 0) == paste) return action;
  return nullptr;
}

QString first_line(const QString& text)
{
  for (qsizetype i = 0; i < text.size(); ++i)
    if (is_line_break(text[i])) return text.left(i);
  return text;
}

}  // namespace

address_edit::address_edit(QWidget* parent) : QLineEdit(parent), route_source_(read_route_table) {}

void address_edit::set_route_source(route_source source) { route_source_ = std::move(source); }

void address_edit::insert_first_line(const QString& text)
{
  const QString line = first_line(text);
  if (isReadOnly() || (line.isEmpty() && !hasSelectedText())) return;  // as Qt's own paste
  insert(line);
}

void address_edit::paste_first_line(QClipboard::Mode mode)
{
  insert_first_line(QGuiApplication::clipboard()->text(mode));
}

QMenu* address_edit::make_context_menu()
{
  QMenu* menu = createStandardContextMenu();
  if (QAction* paste = paste_item(*menu)) {
    disconnect(paste, &QAction::triggered, nullptr, nullptr);  // Qt's whole-clipboard paste
    connect(paste, &QAction::triggered, this, [this] { paste_first_line(QClipboard::Clipboard); });
  }
  menu->addSeparator();
  add_gateway_items(*menu);
  return menu;
}

// Picking a gateway replaces the text as typing would, so it is saved and can be undone.
void address_edit::add_gateway_items(QMenu& menu)
{
  const std::vector<std::string> gateways = default_gateways(route_source_ ? route_source_() : "");
  if (gateways.empty()) menu.addAction(QStringLiteral("没有默认网关"))->setEnabled(false);
  for (const std::string& gateway : gateways) {
    const QString address = QString::fromStdString(gateway);
    connect(menu.addAction(QStringLiteral("使用默认网关 ") + address), &QAction::triggered, this,
        [this, address] {
          selectAll();
          insert(address);
        });
  }
}

void address_edit::contextMenuEvent(QContextMenuEvent* event)
{
  QMenu* menu = make_context_menu();
  menu->setAttribute(Qt::WA_DeleteOnClose);
  menu->popup(event->globalPos());
}

void address_edit::keyPressEvent(QKeyEvent* event)
{
  if (event == QKeySequence::Paste) {
    paste_first_line(QClipboard::Clipboard);
    event->accept();
    return;
  }
  QLineEdit::keyPressEvent(event);
}

// The X11 selection paste of a middle click.
void address_edit::mouseReleaseEvent(QMouseEvent* event)
{
  if (event->button() == Qt::MiddleButton && !isReadOnly() &&
    QGuiApplication::clipboard()->supportsSelection()) {
    deselect();
    paste_first_line(QClipboard::Selection);
    return;
  }
  QLineEdit::mouseReleaseEvent(event);
}

void address_edit::dropEvent(QDropEvent* event)
{
  const QString text = event->mimeData()->text();
  const QString line = first_line(text);
  if (line.size() == text.size()) {
    QLineEdit::dropEvent(event);
    return;
  }
  QMimeData first;
  first.setText(line);
  QDropEvent cut(event->position(), event->possibleActions(), &first, event->buttons(),
          event->modifiers(), event->type());
  cut.setDropAction(event->dropAction());
  QLineEdit::dropEvent(&cut);
  event->setDropAction(cut.dropAction());
  event->setAccepted(cut.isAccepted());
}

}  // namespace quorvel
