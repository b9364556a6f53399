// Qt's own texts (message box buttons, the edit boxes' context menus) in Chinese, as every window
// of the program is Chinese whatever the locale.
#pragma once

#include <QString>

namespace quorvel {

// Qt's translations folder, where Debian's qt6-translations-l10n puts qtbase_zh_CN.qm.
QString qt_translations_folder();

// Installs qtbase_zh_CN from `folder` into the running application. Without the file Qt keeps
// its English texts and false is returned.
bool install_qt_chinese_translation(const QString& folder = qt_translations_folder());

}  // namespace quorvel
