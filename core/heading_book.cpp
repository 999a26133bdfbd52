#include "core/heading_book.h"

#include <algorithm>
#include <limits>
#include <numeric>

namespace quorrel {
namespace {

// Lines of body text a heading that is not self-evident needs after it
// (before the next of its group): list items and contents entries have
// fewer.
constexpr std::int64_t least_body = 3;
// A member of a sequence may skip this many numbers (a chapter the source
// lost).
constexpr std::int64_t most_skipped = 2;
// A sequence of a shape that is not self-evident spreads over a tenth of
// the book at least, or has this many members: a numbered list inside one
// chapter does not.
constexpr std::int64_t spread_part = 10;
constexpr std::int64_t long_sequence = 8;
// The longest line (in characters) read as a volume's subtitle.
constexpr std::size_t longest_subtitle = 20;

bool self_evident(heading_shape s) { return s == heading_shape::plain || s == heading_shape::section; }

bool hard(heading_guard g) { return g == heading_guard::full_stop || g == heading_guard::longer_word; }

}  // namespace

bool heading_book::add(std::int64_t line, std::int64_t nonblank, const line_shape& shape, std::int64_t back,
                       std::size_t back_characters) {
  if (full_) return false;
  if (lines_.size() >= limit_) {
    full_ = true;
    return false;
  }
  if (lines_.capacity() == 0) lines_.reserve(limit_);  // pages are only used as lines come
  noted n{};
  n.line = line;
  n.nonblank = nonblank;
  n.number = shape.number >= 0 && shape.number <= std::numeric_limits<std::int32_t>::max()
                 ? static_cast<std::int32_t>(shape.number)
                 : -1;
  n.group = shape.group;
  n.prefix = shape.prefix;
  n.back =
      static_cast<std::uint32_t>(std::min<std::int64_t>(back, std::numeric_limits<std::uint32_t>::max()));
  n.back_characters = static_cast<std::uint16_t>(std::min<std::size_t>(back_characters, 0xFFFF));
  n.shape = shape.shape;
  n.kind = static_cast<std::uint8_t>(shape.kind) & 7;
  n.guard = static_cast<std::uint8_t>(shape.guard) & 7;
  n.contents = shape.contents ? 1 : 0;
  n.titled = shape.titled ? 1 : 0;
  lines_.push_back(n);
  noted_until_ = line;
  return true;
}

void heading_book::append(heading_book&& later, std::int64_t lines, std::int64_t nonblank, std::int64_t last,
                          std::size_t last_characters) {
  for (noted n : later.lines_) {
    if (full_) return;
    if (lines_.size() >= limit_) {
      full_ = true;
      return;
    }
    if (lines_.capacity() == 0) lines_.reserve(limit_);
    if (n.back == n.line) {  // no line before it in its part: the last of this one's
      n.back = static_cast<std::uint32_t>(
          std::min<std::int64_t>(n.line + lines - last, std::numeric_limits<std::uint32_t>::max()));
      n.back_characters = static_cast<std::uint16_t>(std::min<std::size_t>(last_characters, 0xFFFF));
    }
    n.line += lines;
    n.nonblank += nonblank;
    lines_.push_back(n);
    noted_until_ = n.line;
  }
  if (later.full_) {
    full_ = true;
    noted_until_ = lines_.empty() ? 0 : lines_.back().line;
  }
  std::vector<noted>().swap(later.lines_);
}

// Runs of noted lines with no body text between them, as [begin, end).
template <typename F>
void for_each_run(std::size_t size, const F& at_run, const auto& lines) {
  for (std::size_t begin = 0, end = 0; begin < size; begin = end) {
    end = begin + 1;
    while (end < size && lines[end].nonblank == lines[end - 1].nonblank + 1) ++end;
    if (end - begin >= 2) at_run(begin, end);
  }
}

// A run of three entries or more that counts something (one group with two
// numbers, or a line of two entries) is a table of contents or a list: its
// lines take no part in the sequences.
void heading_book::find_lists() {
  for_each_run(
      lines_.size(),
      [&](std::size_t begin, std::size_t end) {
        std::size_t entries = 0;
        bool counts = false;
        for (std::size_t k = begin; k < end; ++k) {
          const noted& m = lines_[k];
          if (k > begin && lines_[k - 1].group == m.group && lines_[k - 1].number == m.number)
            continue;  // printed twice
          entries += m.contents ? 2 : 1;
          counts = counts || m.contents;
          for (std::size_t e = begin; e < k && !counts; ++e)
            counts = lines_[e].group == m.group && lines_[e].number != m.number;
        }
        if (entries >= 3 && counts)
          for (std::size_t k = begin; k < end; ++k) lines_[k].listed = 1;
      },
      lines_);
}

// Each group in the order of the source: which of its members follow on
// as a numbered sequence with body text after them.
void heading_book::walk_groups(std::int64_t nonblank) {
  std::vector<std::uint32_t> order(lines_.size());
  std::iota(order.begin(), order.end(), 0u);
  std::stable_sort(order.begin(), order.end(),
                   [&](std::uint32_t a, std::uint32_t b) { return lines_[a].group < lines_[b].group; });
  std::vector<std::int64_t> body(lines_.size());
  std::vector<std::uint32_t> fitted;
  std::vector<bool> in_place;                             // of each fitted member
  std::vector<std::int64_t> next_evident(lines_.size());  // of each member of a group
  constexpr std::int64_t none = std::numeric_limits<std::int64_t>::max() / 2;
  for (std::size_t begin = 0, end = 0; begin < order.size(); begin = end) {
    end = begin;
    while (end < order.size() && lines_[order[end]].group == lines_[order[begin]].group) ++end;

    // Body lines after each member, up to the next member with another
    // number (a heading printed twice has its chapter after the second).
    std::int64_t near = none, near_number = -2, other = none;
    for (std::size_t j = end; j-- > begin;) {
      const noted& m = lines_[order[j]];
      if (m.listed) continue;
      const std::int64_t next = near_number != m.number ? near : other;
      body[j] = next == none ? none : next - m.nonblank - 1;
      if (m.number != near_number) other = near;
      near = m.nonblank;
      near_number = m.number;
    }

    // The number of the next self-evident member after each (-1: none).
    auto evident = [&](const noted& m) {
      return !m.contents && !m.listed && self_evident(m.shape) &&
             static_cast<heading_guard>(m.guard) == heading_guard::none;
    };
    for (std::size_t j = end, k = end; j-- > begin;) {
      next_evident[j - begin] = k < end ? lines_[order[k]].number : -1;
      if (evident(lines_[order[j]])) k = j;
    }
    bool has_evident = false;
    std::int64_t last = -1, last_evident = -1, steps = 0, with_body = 0;
    fitted.clear();
    in_place.clear();
    for (std::size_t j = begin; j < end; ++j) {
      noted& m = lines_[order[j]];
      if (m.contents || m.shape == heading_shape::prefixed_section) continue;
      const auto guard = static_cast<heading_guard>(m.guard);
      if (self_evident(m.shape) && guard == heading_guard::none) {
        m.accepted = 1;
        if (m.listed) continue;
        has_evident = true;
        if (m.number >= 0) last = last_evident = m.number;
        continue;
      }
      if (m.number < 0 || m.listed) continue;
      const bool guarded = guard != heading_guard::none;
      bool fits = false;
      if (last < 0) {
        fits = !guarded;
      } else if (guarded) {
        fits = m.number == last + 1;  // a guarded line must be the very next
      } else {
        fits = (m.number >= last && m.number <= last + 1 + most_skipped) || m.number <= 1;
      }
      if (hard(guard)) {
        m.near_miss = fits && last >= 0 ? 1 : 0;
        continue;
      }
      if (body[j] < least_body) continue;
      ++with_body;
      if (!fits) continue;
      steps += last >= 0 && m.number > last ? 1 : 0;
      last = m.number;
      if (guarded && self_evident(m.shape)) {
        m.accepted = 1;  // 第八章 标题。 in its place in the book's sequence
        continue;
      }
      fitted.push_back(order[j]);
      in_place.push_back(m.shape == heading_shape::prefixed && last_evident >= 0 &&
                         m.number == last_evident + 1 && next_evident[j - begin] == m.number + 1);
    }
    const auto count = static_cast<std::int64_t>(fitted.size());
    const std::int64_t spread =
        count > 0 ? lines_[fitted.back()].nonblank - lines_[fitted.front()].nonblank : 0;
    const bool sequence = count >= 3 && steps >= 2 && 2 * count >= with_body &&
                          (count >= long_sequence || spread * spread_part >= nonblank);
    for (std::size_t f = 0; f < fitted.size(); ++f) {
      // Beside the book's self-evident headings a shape of their unit
      // counts when it is the book's habit, where a sequence starts again
      // (the first chapter of a volume, behind the volume's name), or, a
      // whole head behind a prefix, in its very place between two of them
      // (第二十回, 下卷 第二十一回, 第二十二回). A bare 六十四章 in that place
      // is more often a stray line where the book lacks the heading.
      noted& m = lines_[fitted[f]];
      if (has_evident ? count >= 3 || m.number <= 1 || in_place[f] : sequence) m.accepted = 1;
    }
  }

  // A prefix the book gives its headings (正文 前言 beside 正文 第一回,
  // 【书名】【第二集】 beside 【书名】【第一辑】) makes a heading of what
  // follows it.
  std::vector<std::uint32_t> prefixes;
  for (const noted& m : lines_)
    if (m.accepted && m.shape == heading_shape::prefixed) prefixes.push_back(m.prefix);
  std::sort(prefixes.begin(), prefixes.end());
  auto used = [&](std::uint32_t prefix) {
    const auto [from, to] = std::equal_range(prefixes.begin(), prefixes.end(), prefix);
    return to - from;
  };
  for (noted& m : lines_) {
    if (m.accepted || m.listed || static_cast<heading_guard>(m.guard) != heading_guard::none) continue;
    if (m.shape == heading_shape::prefixed_section && prefixes.size() >= 3) m.accepted = 1;
    if (m.shape == heading_shape::prefixed && used(m.prefix) >= 2) m.accepted = 1;
  }
}

// In a book headed 第N章, a bare number, a name and a number or a Latin
// word that come two or more between one chapter and the next number the
// sections or lists of a chapter, not parts of the book: they start no
// piece. One between two chapters (贰 above a volume's 第一章) still does.
void heading_book::drop_subsections() {
  std::vector<std::int64_t> chapters;
  for (const noted& m : lines_)
    if (m.accepted && !m.listed && self_evident(m.shape) &&
        static_cast<line_kind>(m.kind) == line_kind::chapter)
      chapters.push_back(m.line);
  if (chapters.size() < 3) return;
  auto weak = [](const noted& m) {
    return m.accepted && (m.shape == heading_shape::numeral || m.shape == heading_shape::named ||
                          m.shape == heading_shape::latin);
  };
  // (group, the chapter it follows) for each member between two chapters.
  std::vector<std::pair<std::uint32_t, std::size_t>> inside;
  for (const noted& m : lines_) {
    if (!weak(m)) continue;
    const auto after = static_cast<std::size_t>(std::upper_bound(chapters.begin(), chapters.end(), m.line) -
                                                chapters.begin());
    if (after > 0 && after < chapters.size()) inside.emplace_back(m.group, after);
  }
  std::sort(inside.begin(), inside.end());
  std::vector<std::uint32_t> dropped;
  for (std::size_t i = 0; i < inside.size();) {
    const std::uint32_t group = inside[i].first;
    std::size_t members = 0, crowded = 0;
    for (; i < inside.size() && inside[i].first == group; ++i) {
      ++members;
      const bool alone =
          (i == 0 || inside[i - 1] != inside[i]) && (i + 1 == inside.size() || inside[i + 1] != inside[i]);
      crowded += alone ? 0 : 1;
    }
    if (2 * crowded >= members) dropped.push_back(group);
  }
  for (noted& m : lines_)
    if (weak(m) && std::find(dropped.begin(), dropped.end(), m.group) != dropped.end()) m.accepted = 0;
}

// Runs of noted lines with no body text between them.
void heading_book::read_runs() {
  std::vector<std::uint32_t> groups;
  for (const noted& m : lines_)
    if (m.accepted && !m.listed) groups.push_back(m.group);
  std::sort(groups.begin(), groups.end());
  groups.erase(std::unique(groups.begin(), groups.end()), groups.end());
  auto headings = [&](const noted& m) {
    return (self_evident(m.shape) && static_cast<heading_guard>(m.guard) == heading_guard::none) ||
           std::binary_search(groups.begin(), groups.end(), m.group);
  };
  // How many headings each group has: the book's own sequence has the most.
  std::vector<std::uint32_t> members;
  for (const noted& m : lines_)
    if (m.accepted && !m.listed) members.push_back(m.group);
  std::sort(members.begin(), members.end());
  auto size = [&](std::uint32_t group) {
    const auto [from, to] = std::equal_range(members.begin(), members.end(), group);
    return to - from;
  };

  for_each_run(
      lines_.size(),
      [&](std::size_t begin, std::size_t end) {
        // A list of the book's own headings is a table of contents; a list of
        // something else (一、 二、 三、 under a chapter's heading) is body text.
        bool contents = false;
        for (std::size_t k = begin; k < end && lines_[begin].listed; ++k) {
          const noted& m = lines_[k];
          contents = contents || m.contents;
          for (std::size_t e = begin; e < k && !contents; ++e)
            contents = lines_[e].group == m.group && lines_[e].number != m.number && headings(m);
        }
        if (contents) {
          // The real headings that follow at once start again where the
          // table started: 第一卷, 第一章 after the table's 第三章.
          std::size_t keep = end;
          while (keep > begin) {
            const noted& m = lines_[keep - 1];
            bool again = m.accepted != 0 || (headings(m) && m.number >= 0);
            for (std::size_t e = begin; e + 1 < keep && again; ++e)
              if (lines_[e].group == m.group) again = m.number >= 0 && m.number <= lines_[e].number;
            if (!again || m.contents) break;
            lines_[--keep].accepted = 1;
          }
          for (std::size_t k = begin; k < keep; ++k) {
            lines_[k].accepted = 0;
            lines_[k].near_miss = 0;
          }
          if (keep > begin) contents_.push_back({lines_[begin].line, lines_[keep - 1].line});
          return;
        }

        // One heading printed as several lines: the first starts the piece.
        noted* first = nullptr;
        for (std::size_t k = begin; k < end; ++k) {
          noted& m = lines_[k];
          if (!m.accepted) continue;
          if (first == nullptr) {
            first = &m;
            continue;
          }
          const auto before = static_cast<line_kind>(first->kind), now = static_cast<line_kind>(m.kind);
          if (first->group == m.group && first->number == m.number) {
            m.accepted = 0;
          } else if (before == line_kind::volume || now == line_kind::volume) {
            first = &m;  // a volume, then its first chapter: held together
          } else if (now == line_kind::chapter && before == line_kind::chapter && first->group != m.group &&
                     !self_evident(first->shape)) {
            first->kind = static_cast<std::uint8_t>(line_kind::volume);  // 第一辑 标题, then 第一章
            first = &m;
          } else if (now == line_kind::chapter && before == line_kind::chapter && first->group != m.group &&
                     size(m.group) > size(first->group)) {
            first->accepted = 0;  // 第九回十月 above the book's 第二百三十七章: the book's own heading starts
            first = &m;
          } else {
            m.accepted = 0;  // a site's header above the book's own heading
          }
        }
      },
      lines_);
}

// Headings close together: a heading repeated after a line of a site's
// text (a chapter of one line between two headings of one number is rarer
// than that), and a volume whose subtitle stands between it and its chapter.
void heading_book::join_neighbours() {
  noted* before = nullptr;
  for (noted& m : lines_) {
    if (!m.accepted) continue;
    if (before != nullptr) {
      const std::int64_t between = m.nonblank - before->nonblank - 1;
      const auto kind = static_cast<line_kind>(m.kind);
      if (between <= 1 && before->group == m.group && before->number == m.number) {
        m.accepted = 0;
        continue;
      }
      if (between <= 1 && kind == line_kind::chapter && before->group != m.group && !before->titled &&
          static_cast<line_kind>(before->kind) == line_kind::chapter && !self_evident(before->shape) &&
          before->shape != heading_shape::prefixed && before->shape != heading_shape::bare_unit)
        before->kind = static_cast<std::uint8_t>(line_kind::volume);  // 贰 / 朱棣篇 / 第一章
      if (between == 1 && kind != line_kind::volume && !before->titled &&
          static_cast<line_kind>(before->kind) == line_kind::volume && m.back_characters <= longest_subtitle)
        extra_.push_back({m.line - static_cast<std::int64_t>(m.back), line_kind::volume});
    }
    before = &m;
  }
}

void heading_book::plan(std::int64_t nonblank) {
  find_lists();
  walk_groups(nonblank);
  drop_subsections();
  read_runs();
  join_neighbours();
  entries_.clear();
  for (const noted& m : lines_) {
    if (m.accepted) entries_.push_back({m.line, static_cast<line_kind>(m.kind)});
    else if (m.near_miss) entries_.push_back({m.line, line_kind::near_miss});
  }
  for (const auto& [line, kind] : extra_) entries_.push_back({line, kind});
  std::sort(entries_.begin(), entries_.end(), [](const entry& a, const entry& b) { return a.line < b.line; });
  // The notes are no longer needed: give their memory back.
  std::vector<noted>().swap(lines_);
  std::vector<std::pair<std::int64_t, line_kind>>().swap(extra_);
}

}  // namespace quorrel
