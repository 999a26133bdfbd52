#pragma once
// A scripted desktop for window and platform tests: records every message
// box, dialog and web address, and answers the dialogs with preset paths.

#include <QCoreApplication>
#include <QList>
#include <QOperatingSystemVersion>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <stdexcept>

#include "platform/backend.h"

class FakeBackend final : public quorrel::platform::Backend {
 public:
  struct Dialog {
    QWidget* owner;
    QString title;  // the prompt of the folder chooser
    QString startDir;
    QStringList filters;  // none for the folder chooser
  };

  QStringList messages;
  QList<Dialog> dialogs;
  QList<QUrl> openedUrls;
  QString fileAnswer;    // what the open-file dialog returns ("" = cancel)
  QString folderAnswer;  // what the folder chooser returns ("" = cancel)
  bool urlAccepted = true;
  QOperatingSystemVersion version = QOperatingSystemVersion::current();
  QString folderOfProgram = QCoreApplication::applicationDirPath();
  QStringList unwritable;  // folders the user may not write in
  QString documents = QStringLiteral("/home/李/文档");
  // Run while a dialog is open, as a person or a failing system would act;
  // each may throw.
  std::function<void()> whileDialogOpen = [] {};
  std::function<void()> whileOpeningUrl = [] {};
  std::function<void()> whileReadingVersion = [] {};

  void showMessage(QWidget*, const QString& text) override { messages << text; }
  QString openFile(QWidget* owner, const QString& title, const QString& startDir,
                   const QStringList& filters) override {
    dialogs << Dialog{owner, title, startDir, filters};
    whileDialogOpen();
    return fileAnswer;
  }
  QString chooseFolder(QWidget* owner, const QString& prompt, const QString& startDir) override {
    dialogs << Dialog{owner, prompt, startDir, {}};
    whileDialogOpen();
    return folderAnswer;
  }
  bool openUrl(const QUrl& url) override {
    whileOpeningUrl();
    openedUrls << url;
    return urlAccepted;
  }
  QOperatingSystemVersion osVersion() override {
    whileReadingVersion();
    return version;
  }
  QString programFolder() override { return folderOfProgram; }
  bool mayWriteTo(const QString& folder) override { return !unwritable.contains(folder); }
  QString documentsFolder() override { return documents; }
};
