#include "ui/qt/application.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QSettings>
#include <QTranslator>

namespace quorrel::ui {

namespace {

// Qt 6 names file types ("Folder", "%1 File") in the file dialog under
// QAbstractFileIconProvider, a context its catalogue may not have yet; the
// same texts are translated under QFileDialog, which this falls back to.
class FileTypeNames final : public QTranslator {
 public:
  FileTypeNames(const QTranslator& qtbase, QObject* parent) : QTranslator(parent), m_qtbase(qtbase) {}

  QString translate(const char* context, const char* sourceText, const char* disambiguation,
                    int n) const override {
    if (qstrcmp(context, "QAbstractFileIconProvider") != 0) return {};
    const QString own = m_qtbase.translate(context, sourceText, disambiguation, n);
    return own.isEmpty() ? m_qtbase.translate("QFileDialog", sourceText, disambiguation, n) : own;
  }

  bool isEmpty() const override { return false; }

 private:
  const QTranslator& m_qtbase;
};

}  // namespace

bool setUpApplication(QApplication& app) {
  QApplication::setApplicationName(QStringLiteral("Quorrel"));

  for (QSettings::Format format : {QSettings::NativeFormat, QSettings::IniFormat})
    QSettings::setPath(format, QSettings::UserScope, QStringLiteral("/dev/null"));

  // Sizes in the dialogs follow the language of their texts. (The file
  // dialog's dates follow the system's locale, which the program leaves as
  // it is: it is also what other programs it starts inherit.)
  const QLocale chinese(QLocale::Chinese, QLocale::SimplifiedHanScript, QLocale::China);
  QLocale::setDefault(chinese);
  auto* translator = new QTranslator(&app);
  if (translator->load(chinese, QStringLiteral("qtbase"), QStringLiteral("_"),
                       QLibraryInfo::path(QLibraryInfo::TranslationsPath)) &&
      QCoreApplication::installTranslator(translator)) {
    QCoreApplication::installTranslator(new FileTypeNames(*translator, &app));
    return true;
  }
  delete translator;
  return false;
}

}  // namespace quorrel::ui
