// `编辑框`, the gateway address box: a single-line box that takes only the first line of a paste,
// and whose context menu offers the system's default gateways beside Qt's own items.
#pragma once

#include <QClipboard>
#include <QLineEdit>

#include <functional>
#include <string>

class QMenu;

namespace quorvel {

class address_edit : public QLineEdit {
  Q_OBJECT
public:
  // The text of the kernel's routing table; read_route_table unless replaced.
  using route_source = std::function<std::string()>;

  explicit address_edit(QWidget* parent = nullptr);

  void set_route_source(route_source source);

  // The menu the box shows on a right click: Qt's items, then one per default gateway, or a
  // disabled "没有默认网关". The caller owns it.
  QMenu* make_context_menu();

  // Puts the text before the first line break of `text` at the cursor, as if typed.
  void insert_first_line(const QString& text);

protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void dropEvent(QDropEvent* event) override;

private:
  void paste_first_line(QClipboard::Mode mode);
  void add_gateway_items(QMenu& menu);

  route_source route_source_;
};

}  // namespace quorvel
