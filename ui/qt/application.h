#pragma once
// What the window program sets up before its window exists, shared with the
// window's tests so they see what users see:
// - the application name, the title of every message box;
// - Qt's own texts (message box buttons, text box context menus, the file
//   and folder dialogs) in Simplified Chinese, whatever the locale, from the
//   qtbase_zh_CN catalogue in Qt's translations folder (Debian package
//   qt6-translations-l10n); without it they stay in English;
// - no settings file: Qt's file dialog saves its state through QSettings
//   (~/.config/QtProject.conf) with no switch to turn that off, so the user
//   scope is pointed at /dev/null, where no file can be made, and the save
//   fails silently. The program writes nothing but the pieces.

class QApplication;

namespace quorrel::ui {

// True when the Chinese catalogue was found and installed.
bool setUpApplication(QApplication& app);

}  // namespace quorrel::ui
