#pragma once
// A scripted desktop for window tests: records every message box and every
// web address opened, and answers the two dialogs with preset paths.

#include <QList>
#include <QOperatingSystemVersion>
#include <QStringList>
#include <QUrl>

#include "platform/backend.h"

class FakeBackend final : public quorrel::platform::Backend {
 public:
  QStringList messages;
  QList<QUrl> openedUrls;
  QString fileAnswer;    // what the open-file dialog returns ("" = cancel)
  QString folderAnswer;  // what the folder chooser returns ("" = cancel)

  void showMessage(QWidget*, const QString& text) override { messages << text; }
  QString openFile(QWidget*, const QString&, const QString&, const QStringList&) override {
    return fileAnswer;
  }
  QString chooseFolder(QWidget*, const QString&, const QString&) override { return folderAnswer; }
  bool openUrl(const QUrl& url) override {
    openedUrls << url;
    return true;
  }
  QOperatingSystemVersion osVersion() override { return QOperatingSystemVersion::current(); }
};
