#!/usr/bin/env python3
"""A labelled set of novels for measuring heading rules.

Body text is real prose and verse from the chinese-poetry package
(npm install chinese-poetry, in a folder of your own; never committed):
every poem's lines and notes, in Traditional characters, and in Simplified
ones through ICU's uconv (-x Hant-Hans). Between them go headings in the
styles novels use (chapters, volumes, named sections, with titles, indents,
brackets and every numeral form) and body lines made to look like
headings. Each novel is written in GBK, GB18030, UTF-8, Big5 (Traditional),
UTF-16LE and UTF-16BE (with a byte-order mark), with LF and with CR LF,
next to a .labels file listing its heading lines.

  bench/heading_set.py PACKAGE_FOLDER OUT_FOLDER [--seed N] [--chapters N]

Then: quorrel-heading-score auto|keywords OUT/x.txt OUT/x.labels
"""
import argparse
import glob
import json
import os
import random
import subprocess

DIGITS = "零一二三四五六七八九"
FORMAL = "零壹贰叁肆伍陆柒捌玖"


def chinese(n, digits=DIGITS, ten="十", hundred="百", thousand="千"):
    if n < 10:
        return digits[n]
    if n < 20:
        return ten + (digits[n % 10] if n % 10 else "")
    out, zero = "", False
    for value, unit in ((1000, thousand), (100, hundred), (10, ten), (1, "")):
        d = n // value % 10
        if n >= value:
            if d:
                out += ("零" if zero else "") + digits[d] + unit
                zero = False
            elif out:
                zero = True
    return out


def number(n, rng):
    form = rng.random()
    if form < 0.45:
        return chinese(n)
    if form < 0.75:
        return str(n)
    if form < 0.85:
        return "".join(chr(ord(c) + 0xFEE0) for c in str(n))  # full-width
    if form < 0.93:
        return chinese(n, FORMAL, "拾", "佰", "仟")
    return " " + str(n) + " "


def chapter_heading(n, title, rng):
    unit = rng.choice("章章章章回节話话")
    head = "第" + number(n, rng) + unit
    sep = rng.choice([" ", "　", "：", "、", " - ", "·", "", " "])
    line = head if rng.random() < 0.1 else head + sep + title
    if rng.random() < 0.08:
        line = "【" + head + "】" + title if rng.random() < 0.5 else "[" + head + "] " + title
    indent = rng.choice(["", "", "", "　　", "  ", "\t"])
    return indent + line


def volume_heading(n, title, rng):
    style = rng.random()
    if style < 0.6:
        return "第" + number(n, rng) + rng.choice("卷卷部集篇") + " " + title
    if style < 0.8:
        return "卷" + chinese(n) + " " + title
    return "卷之" + chinese(n)


def special_heading(name, title, rng):
    if name == "番外":
        return "番外" + chinese(rng.randint(1, 9)) + " " + title
    if rng.random() < 0.5:
        return name
    return name + rng.choice(["：", " ", "　"]) + title


# Body lines that start like headings; none is one.
DECOYS = [
    "他翻到第{n}章，看了很久。",
    "“第{n}章写得真好。”",
    "第二天，{t}",
    "第{n}节课很无聊，{t}",
    "第{n}回合，他又输了。",
    "第{n}部分说的是{t}。",
    "第{n}章的开头，{t}。",
    "第一次见面，{t}",
    "卷起袖子，{t}",
    "序幕已经拉开，{t}",
    "前言不搭后语，{t}",
    "尾声里，{t}。",
    "番外的故事，{t}。",
    "后记里写着：{t}。",
    "外传里提到{t}",
    "引子写得太长了，{t}。",
    "第{n}章到第{m}章都在讲{t}",
]


def body_lines(poems, rng, count):
    lines = []
    while len(lines) < count:
        poem = rng.choice(poems)
        for p in poem["paragraphs"]:
            lines.append(rng.choice(["　　", "　　", "", "    "]) + p)
        for note in poem.get("notes", []):
            if note:
                lines.append("　　" + note)
    return lines[:count]


def novel(poems, rng, chapters):
    """Lines and the set of 0-based heading indexes."""
    lines, labels = [], set()

    def heading(text):
        labels.add(len(lines))
        lines.append(text)

    def title():  # a heading never holds a full stop
        return rng.choice(poems)["title"].split("。")[0][:12] or "无题"

    lines += [title(), "作者：" + rng.choice(poems)["author"], ""]
    if rng.random() < 0.7:
        heading(special_heading(rng.choice(["楔子", "序章", "序", "引子", "前言", "序言"]), title(), rng))
        lines += body_lines(poems, rng, rng.randint(3, 10))
    volume = 0
    for n in range(1, chapters + 1):
        if n == 1 or rng.random() < 0.04:
            volume += 1
            heading(volume_heading(volume, title(), rng))
            if rng.random() < 0.3:
                lines += body_lines(poems, rng, 2)
            lines += [""] * rng.randint(0, 2)
        heading(chapter_heading(n, title(), rng))
        for line in body_lines(poems, rng, rng.randint(8, 30)):
            lines.append(line)
            if rng.random() < 0.04:
                decoy = rng.choice(DECOYS).format(n=chinese(rng.randint(1, 99)), m=chinese(rng.randint(1, 99)),
                                                  t=rng.choice(poems)["paragraphs"][0])
                lines.append(rng.choice(["", "　　"]) + decoy)
            if rng.random() < 0.05:
                lines.append("")
    for name in rng.sample(["尾声", "后记", "番外", "完本感言", "终章", "外传"], 3):
        heading(special_heading(name, title(), rng))
        lines += body_lines(poems, rng, rng.randint(3, 8))
    return lines, labels


def hans(lines):
    out = subprocess.run(["uconv", "-f", "UTF-8", "-t", "UTF-8", "-x", "Hant-Hans"], input="\n".join(lines),
                         capture_output=True, text=True, check=True).stdout
    return out.split("\n")


def hant(lines):
    out = subprocess.run(["uconv", "-f", "UTF-8", "-t", "UTF-8", "-x", "Hans-Hant"], input="\n".join(lines),
                         capture_output=True, text=True, check=True).stdout
    return out.split("\n")


def write(path, lines, labels, codec, eol):
    kept, kept_labels = [], []
    for i, line in enumerate(lines):
        try:
            line.encode(codec)
        except UnicodeEncodeError:
            continue  # a character this code page lacks: the line is left out
        if i in labels:
            kept_labels.append(len(kept) + 1)
        kept.append(line)
    data = eol.join(kept) + eol
    if codec.startswith("utf-16"):
        data = "\ufeff" + data
    with open(path, "wb") as f:
        f.write(data.encode(codec))
    with open(path[:-4] + ".labels", "w") as f:
        f.write("".join(f"{n}\n" for n in kept_labels))
    return len(kept), len(kept_labels)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("package")
    parser.add_argument("out")
    parser.add_argument("--seed", type=int, default=7)
    parser.add_argument("--chapters", type=int, default=300)
    args = parser.parse_args()
    poems = []
    for path in sorted(glob.glob(os.path.join(args.package, "**", "*.json"), recursive=True)):
        with open(path, encoding="utf-8") as f:
            data = json.load(f)
        poems += [p for p in data if isinstance(p, dict) and p.get("paragraphs") and p.get("title")]
    if not poems:
        raise SystemExit("no poems with paragraphs under " + args.package)
    os.makedirs(args.out, exist_ok=True)
    rng = random.Random(args.seed)
    lines, labels = novel(poems, rng, args.chapters)
    simplified = hans(lines)
    traditional = hant(simplified)
    outputs = [("gbk", "gbk", simplified), ("gb18030", "gb18030", simplified), ("utf8", "utf-8", simplified),
               ("utf8-hant", "utf-8", traditional), ("big5", "big5", traditional),
               ("utf16le", "utf-16-le", simplified), ("utf16be", "utf-16-be", traditional)]
    for name, codec, text in outputs:
        for eol_name, eol in (("lf", "\n"), ("crlf", "\r\n")):
            path = os.path.join(args.out, f"{name}-{eol_name}.txt")
            count, headings = write(path, text, labels, codec, eol)
            print(f"{path}\t{count} lines\t{headings} headings")


if __name__ == "__main__":
    main()
