#pragma once
// The book decides which of its lines are headings. A first pass over the
// source notes every line that has some heading's shape (core/heading_form.h)
// and where it stands among the lines that are not blank; plan() then says
// which of them start a piece:
//
//  - a self-evident line (第十二章 标题, 楔子) counts on its own, unless a
//    guard refused it;
//  - any other shape (a prefix, 第 left out, an unknown unit, a bare number,
//    a name and a number), and a self-evident line refused only for its
//    length or a closing 。, counts where the book uses its group as a
//    numbered sequence: numbers that go up by one (a few missing, a repeat
//    or a new start at 1 allowed), with body text after each;
//  - in a book headed 第N章, bare numbers that come two or more between
//    one chapter and the next number its sections, not its parts;
//  - a run of heading lines with no body text between them is a table of
//    contents when it holds three or more entries: none starts a piece, but
//    for the real headings that start again at its end;
//  - of other runs (a volume and its chapter, a heading printed twice, a
//    site's header above the book's own) only the first line starts a
//    piece; a volume's subtitle line joins the volume.
//
// Memory: 40 bytes per line noted, at most `most_lines` lines (or the limit
// given); the lines after the last one noted are judged by their shape alone.

#include <cstdint>
#include <utility>
#include <vector>

#include "core/heading_form.h"

namespace quorrel {

class heading_book {
 public:
  static constexpr std::size_t most_lines = 1 << 18;

  explicit heading_book(std::size_t limit = most_lines) : limit_(limit) {}

  // One line that is not blank, in the order of the source: its number
  // (1-based), its index among the lines that are not blank, and how far
  // back (in lines) the line before it that is not blank stands, with that
  // line's length in characters. False once the book holds most_lines.
  bool add(std::int64_t line, std::int64_t nonblank, const line_shape& shape, std::int64_t back,
           std::size_t back_characters);
  bool full() const { return full_; }
  // The lines of a book surveyed from the byte after this one's last line:
  // numbered on from this one's `lines` lines, `nonblank` of them not
  // blank, the last of those being line `last` of `last_characters`
  // characters (0: none). Up to this book's limit.
  void append(heading_book&& later, std::int64_t lines, std::int64_t nonblank, std::int64_t last,
              std::size_t last_characters);
  // The last line noted before the book was full (0 when it never was).
  std::int64_t noted_until() const { return full_ ? noted_until_ : 0; }

  struct entry {
    std::int64_t line;
    line_kind kind;  // chapter, volume, special or near_miss
  };
  struct range {
    std::int64_t first, last;
  };
  // Decides once every line is added, of a book of `nonblank` lines that
  // are not blank: the lines that are not body text in the order of the
  // source, and the tables of contents left as body text.
  void plan(std::int64_t nonblank);
  const std::vector<entry>& entries() const { return entries_; }
  const std::vector<range>& contents() const { return contents_; }

 private:
  struct noted {
    std::int64_t line;
    std::int64_t nonblank;
    std::int32_t number;  // -1: none
    std::uint32_t group;
    std::uint32_t prefix;
    std::uint32_t back;
    std::uint16_t back_characters;
    heading_shape shape;
    std::uint8_t kind : 3;
    std::uint8_t guard : 3;
    std::uint8_t contents : 1;
    std::uint8_t accepted : 1;
    std::uint8_t titled : 1;
    std::uint8_t listed : 1;  // in a run that enumerates: a table of contents, or a list
    std::uint8_t near_miss : 1;
  };
  static_assert(sizeof(noted) == 40);

  void find_lists();
  void walk_groups(std::int64_t nonblank);
  void drop_subsections();
  void read_runs();
  void join_neighbours();

  std::vector<noted> lines_;
  std::vector<entry> entries_;
  std::vector<range> contents_;
  std::vector<std::pair<std::int64_t, line_kind>> extra_;  // subtitles joining their volume
  std::size_t limit_;
  bool full_ = false;
  std::int64_t noted_until_ = 0;
};

}  // namespace quorrel
