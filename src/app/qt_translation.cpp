#include "app/qt_translation.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QTranslator>

namespace quorvel {

QString qt_translations_folder() { return QLibraryInfo::path(QLibraryInfo::TranslationsPath); }

bool install_qt_chinese_translation(const QString& folder) {
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(QStringLiteral("qtbase_zh_CN"), folder) ||
      !QCoreApplication::installTranslator(translator)) {
    delete translator;
    return false;
  }
  return true;
}

}  // namespace quorvel
