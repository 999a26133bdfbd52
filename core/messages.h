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
inline constexpr std::string_view out_of_memory = "内存不足";  // the reason when an allocation fails

std::string source_missing(std::string_view path);        // 文件“path”不存在
std::string would_overwrite(std::string_view path);       // 分割文件会覆盖原始文件“path”，...
// 路径“path”中有文件名不能包含的字符“c”, with a word on the colon, the
// double quote (how to end a quoted folder on the command line) and control
// characters.
std::string unnameable(std::string_view path, char character);
std::string read_failed(std::string_view path, std::string_view reason);
std::string write_failed(std::string_view path, std::string_view reason);
std::string progress(std::int64_t saved);                 // 已经保存N章
std::string folder_busy(std::string_view folder);         // 存放目录“folder”正在被另一次分割写入，...
// The pattern could not decide line `line` of the source in time: which
// line, and what to do about the pattern.
std::string pattern_undecided(std::string_view path, std::int64_t line);
// Why an empty pattern is refused (ICU itself says U_ILLEGAL_ARGUMENT_ERROR).
inline constexpr std::string_view empty_pattern = "表达式是空的，请写出标题行要匹配的内容（例如 ^第.+章）";
std::string folder_not_made(std::string_view folder, std::string_view reason);  // 创建存放目录“folder”失败：reason
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

}  // namespace quorrel::messages
