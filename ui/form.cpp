#include "ui/form.h"

#include <utility>

#include "core/checks.h"
#include "core/messages.h"
#include "core/path.h"
#include "core/stop_signals.h"
#include "platform/backend.h"
#include "platform/com_dlg.h"
#include "platform/system.h"

namespace quorrel::ui {

namespace {

// The page the shop button and the link open; Label1 shows its short address.
constexpr auto shop_page = "https://www.quorrel-shop.example/recharge";

}  // namespace

start_folders start_folders::of_desktop() {
  platform::Backend& desktop = platform::backend();
  const std::string program = desktop.programFolder();
  return {program, desktop.mayWriteTo(program), desktop.documentsFolder()};
}

form::form(form_view& view, start_folders folders) : view_(view), folders_(std::move(folders)) {}

void form::load(const std::string& source) {
  view_.clear_keys();
  for (const std::string& keyword : default_keywords()) view_.add_key(keyword);
  ++keywords_version_;
  const std::string& folder =
      folders_.program_folder_writable ? folders_.program_folder : folders_.fallback_folder;
  view_.set_text(form_view::box::destination, with_one_separator(folder));
  if (!source.empty()) view_.set_text(form_view::box::source, source);
  view_.set_ticked(form_view::option::by_form, false);
  view_.set_ticked(form_view::option::title_names, false);
  option_clicked();
}

void form::option_clicked() { view_.enable_keywords(!view_.ticked(form_view::option::by_form)); }

void form::add_clicked() {
  const std::string keyword = view_.text(form_view::box::keyword);
  if (keyword.empty()) return;
  view_.add_key(keyword);
  ++keywords_version_;
}

void form::delete_clicked() {
  const int index = view_.selected_key();
  if (index < 0) return;
  view_.remove_key(index);
  view_.clear_key_selection();
  ++keywords_version_;
}

void form::browse_source_clicked() {
  std::string start_dir = view_.text(form_view::box::source);
  view_.set_text(form_view::box::source,
                 modComDlg32::ShowOpenFile(view_.native_window(), "选择", start_dir, "*.txt|*.txt",
                                           modComDlg32::kLongNames | modComDlg32::kNoChangeDir));
}

void form::browse_destination_clicked() {
  view_.set_text(form_view::box::destination,
                 modComDlg32::BrowseFolder("选择目录", view_.native_window(), 0));
}

void form::shop_clicked() {
  std::string error_text;
  OpenWithShell(view_.native_window(), shop_page, error_text);
}

bool form::OpenWithShell(void* owner, const std::string& target, std::string& error_text) {
  return modSystem::ShellOpen(owner, modSystem::ShellVerb(), target, error_text);
}

// While a split runs the window lets events through, so every control stays
// usable. Keyword edits apply from the next line (the list is read afresh);
// the text boxes and Browse buttons do not affect the running split, which
// holds the paths it checked. A second press of Split is ignored: a nested
// run would write the same pieces while the outer one is still writing them.
void form::split_clicked() {
  if (splitting_) return;

  split_options options;
  const bool by_form = view_.ticked(form_view::option::by_form);
  if (by_form) options.headings.which = heading_choice::rule::form;
  options.title_names = view_.ticked(form_view::option::title_names);
  // The greyed-out keyword list does not take part in a split by form, empty or not.
  const std::size_t keyword_count = by_form ? 1 : static_cast<std::size_t>(view_.key_count());
  const input_check check = check_inputs(
      unquoted(view_.text(form_view::box::source)), unquoted(view_.text(form_view::box::destination)),
      keyword_count, path_text::trimmed, options.title_names ? piece_names::titles : piece_names::numbers);
  if (!check.ok) {
    tell(check.message);
    return;
  }
  if (const std::string problem = make_destination_folder(check.request.destination); !problem.empty()) {
    tell(problem);
    return;
  }

  splitting_ = true;
  close_pending_ = false;
  saved_ = -1;
  caption_shown_ = false;
  headings_ = 0;
  events_at_ = view_.now();
  const split_result result = run_split(check.request, *this, options);
  splitting_ = false;
  // The last report may have come within a frame; and when writing failed,
  // pieces counted at headings may not all have reached the disk.
  if (saved_ >= 0) saved_ = result.pieces;
  show_progress();

  if (close_pending_ || stop_signal() != 0) {
    close_pending_ = false;
    close();
    return;
  }
  if (result.failure) tell(result.failure->message());
  else if (by_form && headings_ == 0) tell(std::string(messages::no_heading_found));
  else tell(std::string(messages::finished));
}

// A modal box owned by the window: OK button, information icon, title "Quorrel".
void form::tell(const std::string& message) {
  platform::backend().showMessage(view_.native_window(), message);
}

void form::dropped(const std::string& path, bool is_folder) {
  if (is_folder) view_.set_text(form_view::box::destination, with_one_separator(path));
  else view_.set_text(form_view::box::source, path);
}

bool form::close_asked() {
  if (!splitting_) return true;
  close_pending_ = true;
  session_close_ = false;  // the user's close, whatever a sign-out decides
  view_.hide_window();
  return false;
}

bool form::session_end_asked() {
  if (!splitting_) return true;
  if (!close_pending_) session_close_ = true;
  close_pending_ = true;
  return false;
}

bool form::session_ended(bool ending) {
  const bool held = std::exchange(close_held_, false);
  if (!std::exchange(session_close_, false)) return false;
  if (!ending) close_pending_ = false;
  return ending && held;
}

// A close that only a sign-out asked for waits for the sign-out's outcome.
void form::close() {
  if (session_close_) close_held_ = true;
  else view_.close_window();
}

void form::poll_stop_signal() {
  if (!splitting_ && stop_signal() != 0) close();
}

std::string_view form::unquoted(std::string_view text) {
  const std::string_view trimmed = trim_blanks(text);
  if (trimmed.size() >= 2 && trimmed.front() == '"' && trimmed.back() == '"' &&
      trimmed.substr(1, trimmed.size() - 2).find('"') == std::string_view::npos)
    return trimmed.substr(1, trimmed.size() - 2);
  return trimmed;
}

std::vector<std::string> form::keywords() {
  std::vector<std::string> list;
  const int count = view_.key_count();
  list.reserve(static_cast<std::size_t>(count));
  for (int i = 0; i < count; ++i) list.push_back(view_.key(i));
  return list;
}

// Called at every heading. Setting the caption, drawing it and letting events
// through each cost far more than splitting a line, so they happen at most
// once a frame; the first heading of a run always shows. Nothing can look at
// the label between two of these moments, as no event is handled then.
void form::progress(std::int64_t saved) {
  saved_ = saved;
  const auto now = view_.now();
  if (caption_shown_ && now - caption_at_ < frame) return;
  caption_shown_ = true;
  caption_at_ = now;
  show_progress();
  let_events_through();
}

// Asked after every heading and at least once per MiB read, also inside a
// long piece without headings: the window handles its events there once
// events_every has passed, so it repaints and sees a close.
bool form::stop_requested() {
  if (view_.now() - events_at_ >= events_every) let_events_through();
  return close_pending_ || stop_signal() != 0;
}

void form::heading_seen(line_kind kind, std::int64_t, std::string_view) {
  if (kind != line_kind::near_miss && kind != line_kind::body) ++headings_;
}

void form::show_progress() {
  if (saved_ >= 0) view_.set_caption(messages::progress(saved_));
}

void form::let_events_through() {
  view_.process_events();
  events_at_ = view_.now();
}

}  // namespace quorrel::ui
