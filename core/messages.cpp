#include "core/messages.h"

namespace quorrel::messages {
namespace {

std::string quoted(std::string_view before, std::string_view path, std::string_view after) {
  std::string out;
  out.reserve(before.size() + path.size() + after.size() + 6);
  out.append(before).append("“").append(path).append("”").append(after);
  return out;
}

}  // namespace

std::string source_missing(std::string_view path) { return quoted("文件", path, "不存在"); }

std::string would_overwrite(std::string_view path) {
  return quoted("分割文件会覆盖原始文件", path, "，请选择其他存放目录");
}

std::string unnameable(std::string_view path, char character) {
  if (character == ':') return quoted("路径", path, "中的冒号“:”只能紧跟在盘符后面（如 D:\\）");
  if (character == '"')
    return quoted("路径", path,
                  "中有双引号“\"”：文件名不能包含它。在命令行上给带引号的目录时，结尾请写成 \\\\（如 "
                  "\"D:\\my out\\\\\"），或不写结尾的 \\（如 \"D:\\my out\"）");
  if (static_cast<unsigned char>(character) < 0x20) {
    constexpr char hex[] = "0123456789ABCDEF";
    return quoted("路径", path, "中有文件名不能包含的控制字符 U+00")
        .append(1, hex[character >> 4])
        .append(1, hex[character & 0xF]);
  }
  return quoted("路径", path, "中有文件名不能包含的字符").append("“").append(1, character).append("”");
}

std::string read_failed(std::string_view path, std::string_view reason) {
  return quoted("读取文件", path, "失败：").append(reason);
}

std::string write_failed(std::string_view path, std::string_view reason) {
  return quoted("写入文件", path, "失败：").append(reason);
}

std::string folder_busy(std::string_view folder) {
  return quoted("存放目录", folder, "正在被另一次分割写入，请稍后再试");
}

std::string pattern_undecided(std::string_view path, std::int64_t line) {
  return quoted("正则表达式在文件", path, "第")
      .append(std::to_string(line))
      .append(
          "行上用时过长，无法判定这一行是否为标题，分割已停止。请简化表达式：用 ^ 锚定行首，"
          "避免嵌套的重复（如 (a+)+）和多个 .*，或改用 --headings=auto");
}

std::string folder_not_made(std::string_view folder, std::string_view reason) {
  return quoted("创建存放目录", folder, "失败：").append(reason);
}

std::string leftover_pieces(std::string_view folder, std::int64_t count) {
  return quoted("存放目录", folder, "中还有")
      .append(std::to_string(count))
      .append("个不是这次写入的分割文件（以前按其他标题规则或命名分割留下的），未删除");
}

std::string invalid_utf8(std::uint64_t count, std::int64_t line) {
  return "源文件按 UTF-8 读取，但有" + std::to_string(count) + "处无效的字节序列，第一处在第" +
         std::to_string(line) + "行；它们原样写入分割文件";
}

std::string progress(std::int64_t saved) { return "已经保存" + std::to_string(saved) + "章"; }

std::string unknown_option(std::string_view name) { return quoted("无效的选项", name, ""); }
std::string option_needs_value(std::string_view name) { return quoted("选项", name, "缺少参数"); }
std::string option_takes_no_value(std::string_view name) { return quoted("选项", name, "不接受参数"); }
std::string unknown_names(std::string_view form) {
  return quoted("无效的", std::string("--names=").append(form), "（可用 title 或 number）");
}
std::string unknown_heading_rule(std::string_view name) {
  return quoted("未知的标题规则", name, "（可用 keywords、auto）");
}

std::string bad_pattern(std::string_view pattern, std::string_view reason, int line, int offset) {
  std::string text = quoted("正则表达式", pattern, "有误：").append(reason);
  if (offset <= 0) return text;
  text += "（";
  if (line > 0) text += "第" + std::to_string(line) + "行";
  return text + "第" + std::to_string(offset) + "个字符）";
}

std::string bad_size(std::string_view size) {
  return quoted("无效的大小", size, "（例如 300K、2M 或字节数，至多 1048576M）");
}
std::string unknown_target(std::string_view name) {
  return quoted("不支持的目标编码", name, "（UTF-8、UTF-8-BOM、GB18030、GBK、Big5、UTF-16LE）");
}
std::string unknown_encoding(std::string_view name) { return quoted("不支持的编码", name, ""); }
std::string output_failed(std::string_view reason) { return "写入标准输出失败：" + std::string(reason); }

std::string not_convertible(std::uint64_t count, std::string_view target, std::int64_t line) {
  return "源文件有" + std::to_string(count) + "处无法转换为" + std::string(target) + "的字符，第一处在第" +
         std::to_string(line) + "行；未写入任何文件（--replace-invalid 以 U+FFFD 或 ? 代替）";
}

std::string replaced(std::uint64_t count) {
  return std::to_string(count) + "处无法转换的字符已替换为 U+FFFD 或 ?";
}

std::string list_total(std::int64_t pieces, std::uint64_t bytes) {
  return "合计：" + std::to_string(pieces) + "个文件，" + std::to_string(bytes) + "字节";
}

}  // namespace quorrel::messages
