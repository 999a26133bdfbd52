#pragma once
// The window frmSave as drawn: its title, client size and control table
// (names, kinds, captions, rectangles, tab order, accessible names), written
// once for both views, the Qt one (ui/main_window.cpp) and the Win32 one
// (ui/win32/). No toolkit; texts are UTF-8.
//
// Rectangles are in twips, from the client area's top-left corner; 15 twips
// make one pixel at 96 dpi (a logical pixel in Qt, scaled by the monitor's
// dpi on Windows). Labels size themselves to their caption: their stored
// width and height are what the caption measures in the window's font.

#include <array>
#include <cstddef>
#include <string_view>

namespace quorrel::ui::layout {

inline constexpr std::string_view title = "Quorrel";
inline constexpr int client_width = 5670;   // twips
inline constexpr int client_height = 4380;  // twips
inline constexpr int twips_per_pixel = 15;  // at 96 dpi
inline constexpr int font_points = 9;       // the platform's UI font at this size

// Twips to pixels at `dpi`, rounded to the nearest.
constexpr int pixels(int twips, int dpi = 96) {
  return (twips * dpi + twips_per_pixel * 96 / 2) / (twips_per_pixel * 96);
}

enum class kind { label, button, text_box, list_box, check_box };

struct rect {
  int left, top, width, height;  // twips
};

// The controls, named as the window's users and handlers know them, in tab
// order (the order of `controls` below). Labels never take the focus.
enum class id {
  Label1,
  Command1,
  Label2,
  txtFrom,
  cmdOrigleFile,
  Label3,
  txtTo,
  cmdSaveFolder,
  lstKey,
  txtKey,
  cmdAdd,
  cmdDelete,
  chkByForm,
  chkTitleNames,
  Label4,
  cmdWeb,
};

struct control {
  id which;
  std::string_view name;
  layout::kind kind;
  // "&" marks the access key ("分割(&S)": Alt+S). Text boxes and the list
  // start empty: the form fills them.
  std::string_view caption;
  layout::rect rect;
  // For screen readers, where the caption does not say it (empty: the
  // caption is the name). The boxes and the list are named by their labels.
  std::string_view accessible_name;
};

inline constexpr std::array<control, 16> controls{{
    {id::Label1,
     "Label1",
     kind::label,
     "www.quorrel-shop.example",
     {120, 3960, 2250, 180},
     "打开充值商店网页"},
    {id::Command1, "Command1", kind::button, "分割(&S)", {3120, 3285, 1575, 495}, ""},
    {id::Label2, "Label2", kind::label, "原始文件：", {120, 240, 900, 180}, ""},
    {id::txtFrom, "txtFrom", kind::text_box, "", {1080, 150, 3255, 375}, "原始文件"},
    {id::cmdOrigleFile, "cmdOrigleFile", kind::button, "浏览...", {4320, 150, 1095, 375}, "选择原始文件"},
    {id::Label3, "Label3", kind::label, "存放目录：", {120, 690, 900, 180}, ""},
    {id::txtTo, "txtTo", kind::text_box, "", {1080, 600, 3255, 375}, "存放目录"},
    {id::cmdSaveFolder, "cmdSaveFolder", kind::button, "浏览...", {4320, 600, 1095, 375}, "选择存放目录"},
    {id::lstKey, "lstKey", kind::list_box, "", {120, 1560, 2895, 2220}, "分割特征词"},
    {id::txtKey, "txtKey", kind::text_box, "", {3120, 1560, 1215, 375}, "要添加的分割特征词"},
    {id::cmdAdd, "cmdAdd", kind::button, "添加", {4320, 1560, 1095, 375}, ""},
    {id::cmdDelete, "cmdDelete", kind::button, "删除", {3120, 2160, 1095, 375}, ""},
    // The band between 删除 and 分割; both start cleared, and no setting is stored.
    {id::chkByForm, "chkByForm", kind::check_box, "按标题格式分章(&T)", {3120, 2565, 2295, 300}, ""},
    {id::chkTitleNames, "chkTitleNames", kind::check_box, "用章节标题命名(&N)", {3120, 2910, 2295, 300}, ""},
    {id::Label4, "Label4", kind::label, "分割特征词：", {120, 1200, 1080, 180}, ""},
    {id::cmdWeb, "cmdWeb", kind::button, "充话费/游戏点卡", {2520, 3923, 2175, 375}, ""},
}};

constexpr const control& of(id which) { return controls[static_cast<std::size_t>(which)]; }

constexpr bool in_order() {
  for (std::size_t i = 0; i < controls.size(); ++i)
    if (static_cast<std::size_t>(controls[i].which) != i) return false;
  return true;
}
static_assert(in_order(), "controls are listed in the order of their ids");

// The letter after "&" in a caption, upper-cased; 0 when it has none.
constexpr char access_key(std::string_view caption) {
  const std::size_t at = caption.find('&');
  if (at == std::string_view::npos || at + 1 == caption.size()) return 0;
  const char key = caption[at + 1];
  return key >= 'a' && key <= 'z' ? static_cast<char>(key - 'a' + 'A') : key;
}

constexpr bool access_keys_unique() {
  for (std::size_t i = 0; i < controls.size(); ++i)
    for (std::size_t j = i + 1; j < controls.size(); ++j)
      if (access_key(controls[i].caption) != 0 &&
          access_key(controls[i].caption) == access_key(controls[j].caption))
        return false;
  return true;
}
static_assert(access_keys_unique(), "two controls would answer the same Alt+letter");

}  // namespace quorrel::ui::layout
