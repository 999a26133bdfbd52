#pragma once
// Every text the splitter shows the user, in one place (UTF-8).

#include <cstdint>
#include <string>
#include <string_view>

namespace quorrel::messages {

inline constexpr std::string_view no_source = "请选择要分割的文件";
inline constexpr std::string_view no_destination = "请选择要保存分割文件的目录";
inline constexpr std::string_view no_keywords = "请添加分割关键词";
inline constexpr std::string_view finished = "保存完毕";
// The window's split by heading form found no heading: the whole book went into one piece.
inline constexpr std::string_view no_heading_found =
    "没有找到任何章节标题，全书保存为一个文件；请取消“按标题格式分章”，改用分割特征词再试";
inline constexpr std::string_view out_of_memory = "内存不足";  // the reason when an allocation fails

std::string source_missing(std::string_view path);   // 文件“path”不存在
std::string would_overwrite(std::string_view path);  // 分割文件会覆盖原始文件“path”，...
// 路径“path”中有文件名不能包含的字符“c”, with a word on the colon, the
// double quote (how to end a quoted folder on the command line) and control
// characters.
std::string unnameable(std::string_view path, char character);
std::string read_failed(std::string_view path, std::string_view reason);
std::string write_failed(std::string_view path, std::string_view reason);
std::string progress(std::int64_t saved);          // 已经保存N章
std::string folder_busy(std::string_view folder);  // 存放目录“folder”正在被另一次分割写入，...
// The pattern could not decide line `line` of the source in time: which
// line, and what to do about the pattern.
std::string pattern_undecided(std::string_view path, std::int64_t line);
// Why an empty pattern is refused (ICU itself says U_ILLEGAL_ARGUMENT_ERROR).
inline constexpr std::string_view empty_pattern = "表达式是空的，请写出标题行要匹配的内容（例如 ^第.+章）";
std::string folder_not_made(std::string_view folder,
                            std::string_view reason);  // 创建存放目录“folder”失败：reason
// 存放目录“folder”中还有N个不是这次写入的分割文件...: pieces of an earlier
// run left beside this run's, which the program never removes.
std::string leftover_pieces(std::string_view folder, std::int64_t count);
// A source read as UTF-8 although `count` of its sequences are not valid,
// the first on line `line`: a warning, the run goes on.
std::string invalid_utf8(std::uint64_t count, std::int64_t line);

// Reasons for write_failed that the program gives by itself, when it will not
// write a piece over what is found at its path.
inline constexpr std::string_view piece_is_link = "这是一个符号链接";
inline constexpr std::string_view piece_is_pipe = "这是一个命名管道";
inline constexpr std::string_view piece_is_not_regular = "这不是普通文件";
inline constexpr std::string_view piece_is_source = "这是原始文件本身";
// The table of contents (--contents) named like a piece of its own run.
inline constexpr std::string_view contents_is_piece = "分割文件可能使用这个文件名";
// A file found at a piece's path that another name or user shares, and that
// could not be removed to make the piece afresh.
inline constexpr std::string_view piece_has_links = "这个文件另有硬链接，无法删除后重建";
inline constexpr std::string_view piece_of_other_user = "这个文件属于其他用户，无法删除后重建";

// quorrel-split's command line. A refusal is shown after "quorrel-split: ",
// those of the command line followed by the usage hint.
inline constexpr std::string_view usage_hint = "请用“quorrel-split --help”查看用法。";
std::string unknown_option(std::string_view name);         // 无效的选项“name”
std::string option_needs_value(std::string_view name);     // 选项“name”缺少参数
std::string option_takes_no_value(std::string_view name);  // 选项“name”不接受参数
inline constexpr std::string_view extra_operand = "多余的参数";
inline constexpr std::string_view no_source_operand = "缺少源文件";
inline constexpr std::string_view no_operands = "缺少源文件或存放目录";
std::string unknown_names(std::string_view form);  // 无效的“--names=form”（可用 title 或 number）
std::string unknown_heading_rule(std::string_view name);  // 未知的标题规则“name”（可用 keywords、auto）
// ICU's reason the pattern is refused, and where: line (0 unsaid) and
// character (0 for no place).
std::string bad_pattern(std::string_view pattern, std::string_view reason, int line, int offset);
std::string bad_size(std::string_view size);  // 无效的大小“size”（例如 ...）
// Options that exclude each other, or one that needs another.
inline constexpr std::string_view pattern_with_headings = "“--pattern”与“--headings”不能同时使用";
inline constexpr std::string_view keyword_without_keyword_rule = "“--keyword”只用于“--headings=keywords”";
inline constexpr std::string_view check_with_list = "“--check”与“--list”不能同时使用";
inline constexpr std::string_view json_without_list = "“--json”只能与“--list”同用";
inline constexpr std::string_view contents_with_list = "“--contents”在分割之后写入，不能与“--list”同用";
inline constexpr std::string_view contents_unnamed = "“--contents”缺少文件名";
inline constexpr std::string_view replace_without_to = "“--replace-invalid”只能与“--to”同用";
inline constexpr std::string_view check_writing =
    "“--check”不写入任何文件，不能与“--contents”、“--names”或“--to”同用";
std::string unknown_target(std::string_view name);    // 不支持的目标编码“name”（...）
std::string unknown_encoding(std::string_view name);  // 不支持的编码“name”
std::string output_failed(std::string_view reason);   // 写入标准输出失败：reason
// --to refused: `count` characters the target cannot hold, the first on `line`.
std::string not_convertible(std::uint64_t count, std::string_view target, std::int64_t line);
std::string replaced(std::uint64_t count);  // N处无法转换的字符已替换为 U+FFFD 或 ?
std::string list_total(std::int64_t pieces, std::uint64_t bytes);  // 合计：N个文件，M字节

}  // namespace quorrel::messages
