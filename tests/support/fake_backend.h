#pragma once
// A scripted desktop for the form's, the wrappers' and the window's tests:
// records every message box, dialog and address opened, and answers the
// dialogs with preset paths. Whether a path is a folder is the file
// system's own answer; the program's folder and the documents folder are
// scripted. Installed for a scope with quorrel::platform::ScopedBackend.

#include <filesystem>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "tests/support/temp_folder.h"  // utf8_path

namespace quorrel::testing {

class fake_backend final : public platform::Backend {
 public:
  struct dialog {
    platform::owner_window owner;
    std::string title;        // the prompt of the folder picker
    std::string start;        // the open-file dialog's folder
    std::int32_t csidl = -1;  // the folder picker's special folder
    std::vector<platform::FileFilter> filters;
  };

  std::vector<std::string> messages;
  std::vector<dialog> dialogs;
  std::vector<std::string> opened;  // addresses handed to the default handler
  std::string file_answer;          // what the open-file dialog returns ("" = cancel)
  std::string folder_answer;        // what the folder picker returns ("" = cancel)
  bool accepted = true;             // whether the default handler takes an address
  std::string refusal;              // the reason given when it does not
  platform::OsVersion version{true, 10};
  std::string program_folder;
  std::set<std::string> unwritable;  // folders the user may not write in
  std::string documents = "/home/李/文档";
  // Run while a dialog is open, as a person or the window would act.
  std::function<void()> while_dialog_open = [] {};

  void showMessage(platform::owner_window, const std::string& text) override { messages.push_back(text); }
  std::string openFile(platform::owner_window owner, const std::string& title, const std::string& start,
                       const std::vector<platform::FileFilter>& filters) override {
    dialogs.push_back({owner, title, start, -1, filters});
    while_dialog_open();
    return file_answer;
  }
  std::string chooseFolder(platform::owner_window owner, const std::string& prompt,
                           std::int32_t csidl) override {
    dialogs.push_back({owner, prompt, {}, csidl, {}});
    while_dialog_open();
    return folder_answer;
  }
  bool openDocument(platform::owner_window, const std::string& target, std::string& error_text) override {
    opened.push_back(target);
    if (!accepted && !refusal.empty()) error_text = refusal;
    return accepted;
  }
  platform::OsVersion osVersion() override { return version; }
  std::string programFolder() override { return program_folder; }
  bool mayWriteTo(const std::string& folder) override { return !unwritable.contains(folder); }
  std::string documentsFolder() override { return documents; }
  bool isFolder(const std::string& path) override {
    std::error_code unreadable;
    return std::filesystem::is_directory(utf8_path(path), unreadable);
  }
};

}  // namespace quorrel::testing
