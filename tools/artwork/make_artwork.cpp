// Draws Quorrel's artwork and writes it into a resources folder:
//   quorrel.ico       the program icon, six images: 32x32 and 16x16 at 8 bits
//                     per pixel with a palette, 128x128, 48x48, 32x32 and
//                     16x16 at 32 bits per pixel with alpha
//   hand.cur          the link label's pointer, 32x32 monochrome, hot spot at
//                     the fingertip (6, 0)
//   icons/quorrel-N.png  the icon at 16, 32, 48 and 128 pixels, for desktop
//                     entries
// The .ico and .cur files are written byte by byte rather than through an
// image writer so that every image has exactly the bit depth asked for.
//
// Usage: quorrel-artwork <resources folder>

#include <QColor>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <vector>

namespace {

// ---------------------------------------------------------------- drawing

// The icon in a 128-unit square: a glossy green disc with a white check mark.
QImage drawIcon(int size) {
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter p(&image);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(size / 128.0, size / 128.0);
  const double pixel = 128.0 / size;  // one pixel of the target, in units

  const QPointF centre(64, 64);
  if (size >= 48) {  // a soft shadow below the disc; lost in the small sizes
    QRadialGradient shadow(QPointF(64, 70), 63);
    shadow.setColorAt(0.85, QColor(0, 0, 0, 70));
    shadow.setColorAt(1.0, QColor(0, 0, 0, 0));
    p.setPen(Qt::NoPen);
    p.setBrush(shadow);
    p.drawEllipse(QPointF(64, 70), 63, 63);
  }

  const double radius = size >= 48 ? 58 : 64 - pixel / 2;
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(0x17, 0x6b, 0x12));  // rim
  p.drawEllipse(centre, radius, radius);

  const double body = radius - std::max(pixel, 3.0);
  QRadialGradient fill(QPointF(64, 100), 92, QPointF(64, 112));
  fill.setColorAt(0.0, QColor(0xa6, 0xf0, 0x6e));
  fill.setColorAt(0.45, QColor(0x4c, 0xc0, 0x2c));
  fill.setColorAt(1.0, QColor(0x1f, 0x85, 0x18));
  p.setBrush(fill);
  p.drawEllipse(centre, body, body);

  // Gloss: a pale lens over the upper half, fading downwards.
  QPainterPath disc;
  disc.addEllipse(centre, body, body);
  QPainterPath lens;
  lens.addEllipse(QRectF(64 - body * 0.82, 64 - body * 0.96, body * 1.64, body * 1.08));
  QLinearGradient gloss(QPointF(0, 64 - body), QPointF(0, 64 + body * 0.1));
  gloss.setColorAt(0.0, QColor(255, 255, 255, 210));
  gloss.setColorAt(1.0, QColor(255, 255, 255, 25));
  p.setBrush(gloss);
  p.drawPath(disc.intersected(lens));

  // The check mark, with a faint shadow so it stands off the gloss.
  QPainterPath check;
  check.moveTo(37, 66);
  check.lineTo(56, 86);
  check.lineTo(93, 43);
  const double stroke = std::max(15.0, 2.4 * pixel);
  p.setBrush(Qt::NoBrush);
  if (size >= 32) {
    p.setPen(QPen(QColor(0x0c, 0x4a, 0x08, 110), stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.drawPath(check.translated(0, std::max(3.0, pixel)));
  }
  p.setPen(QPen(Qt::white, stroke, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(check);
  p.end();
  return image.convertToFormat(QImage::Format_ARGB32);
}

// The pointing hand, one character a pixel: X black, o white, . transparent.
// The tip of the index finger is the hot spot (6, 0).
constexpr int kHotX = 6;
constexpr int kHotY = 0;
constexpr std::array<std::string_view, 21> kHand = {
    "......XX..........",  //
    ".....XooX.........",  //
    ".....XooX.........",  //
    ".....XooX.........",  //
    ".....XooX.........",  //
    ".....XooXXX.......",  //
    ".....XooXooXXX....",  //
    ".....XooXooXooXXX.",  //
    ".....XooXooXooXooX",  //
    ".XX..XooXooXooXooX",  //
    "XooX.XoooooooooooX",  //
    "XoooXXoooooooooooX",  //
    ".XooXooooooooooooX",  //
    ".XoooooooooooooooX",  //
    "..XooooooooooooooX",  //
    "..XoooooooooooooX.",  //
    "...XooooooooooooX.",  //
    "...XoooooooooooX..",  //
    "....XooooooooooX..",  //
    "....XooooooooooX..",  //
    "....XXXXXXXXXXXX..",  //
};

// ---------------------------------------------------------------- palette

// Median cut: at most `count` colours standing for the opaque pixels.
std::vector<QRgb> medianCut(std::vector<QRgb> colours, std::size_t count) {
  std::sort(colours.begin(), colours.end());
  colours.erase(std::unique(colours.begin(), colours.end()), colours.end());
  if (colours.size() <= count) return colours;

  struct Box {
    std::vector<QRgb> colours;
    int channel = 0;  // widest channel: 0 red, 1 green, 2 blue
    int range = 0;
  };
  auto channelOf = [](QRgb c, int ch) { return ch == 0 ? qRed(c) : ch == 1 ? qGreen(c) : qBlue(c); };
  auto measure = [&](Box& box) {
    box.range = -1;
    for (int ch = 0; ch < 3; ++ch) {
      auto [lo, hi] = std::minmax_element(box.colours.begin(), box.colours.end(), [&](QRgb a, QRgb b) {
        return channelOf(a, ch) < channelOf(b, ch);
      });
      const int range = channelOf(*hi, ch) - channelOf(*lo, ch);
      if (range > box.range) {
        box.range = range;
        box.channel = ch;
      }
    }
  };

  std::vector<Box> boxes(1);
  boxes[0].colours = std::move(colours);
  measure(boxes[0]);
  while (boxes.size() < count) {
    auto widest = std::max_element(boxes.begin(), boxes.end(),
                                   [](const Box& a, const Box& b) { return a.range < b.range; });
    if (widest->range <= 0) break;
    Box& box = *widest;
    const int ch = box.channel;
    std::sort(box.colours.begin(), box.colours.end(),
              [&](QRgb a, QRgb b) { return channelOf(a, ch) < channelOf(b, ch); });
    Box upper;
    upper.colours.assign(box.colours.begin() + box.colours.size() / 2, box.colours.end());
    box.colours.resize(box.colours.size() / 2);
    measure(box);
    measure(upper);
    boxes.push_back(std::move(upper));
  }

  std::vector<QRgb> palette;
  for (const Box& box : boxes) {
    long r = 0, g = 0, b = 0;
    for (QRgb c : box.colours) {
      r += qRed(c);
      g += qGreen(c);
      b += qBlue(c);
    }
    const long n = static_cast<long>(box.colours.size());
    palette.push_back(qRgb(int((r + n / 2) / n), int((g + n / 2) / n), int((b + n / 2) / n)));
  }
  return palette;
}

int nearest(const std::vector<QRgb>& palette, QRgb c, int first) {
  int best = first;
  int bestDistance = INT32_MAX;
  for (int i = first; i < static_cast<int>(palette.size()); ++i) {
    const int dr = qRed(palette[i]) - qRed(c);
    const int dg = qGreen(palette[i]) - qGreen(c);
    const int db = qBlue(palette[i]) - qBlue(c);
    const int distance = dr * dr + dg * dg + db * db;
    if (distance < bestDistance) {
      bestDistance = distance;
      best = i;
    }
  }
  return best;
}

// ---------------------------------------------------------------- files

class Bytes {
 public:
  void u8(int v) { m_data.push_back(static_cast<char>(v & 0xff)); }
  void u16(int v) {
    u8(v);
    u8(v >> 8);
  }
  void u32(std::uint32_t v) {
    u16(static_cast<int>(v & 0xffff));
    u16(static_cast<int>(v >> 16));
  }
  void append(const QByteArray& more) { m_data += more; }
  const QByteArray& data() const { return m_data; }

 private:
  QByteArray m_data;
};

int rowBytes(int width, int bitsPerPixel) { return (width * bitsPerPixel + 31) / 32 * 4; }

// One image of an .ico or .cur: BITMAPINFOHEADER, palette, XOR and AND masks,
// rows bottom-up. `pixels` gives the XOR value of a pixel (a palette index, or
// BGRA for 32 bits); `transparent` sets its AND bit.
template <typename Pixel, typename Transparent>
QByteArray dibImage(int size, int bits, const std::vector<QRgb>& palette, Pixel pixels,
                    Transparent transparent) {
  Bytes out;
  const int xorRow = rowBytes(size, bits);
  const int andRow = rowBytes(size, 1);
  out.u32(40);
  out.u32(static_cast<std::uint32_t>(size));
  out.u32(static_cast<std::uint32_t>(size * 2));  // XOR and AND masks together
  out.u16(1);
  out.u16(bits);
  out.u32(0);  // BI_RGB
  out.u32(static_cast<std::uint32_t>((xorRow + andRow) * size));
  out.u32(0);
  out.u32(0);
  out.u32(static_cast<std::uint32_t>(palette.size()));
  out.u32(0);
  for (QRgb c : palette) {
    out.u8(qBlue(c));
    out.u8(qGreen(c));
    out.u8(qRed(c));
    out.u8(0);
  }
  for (int y = size - 1; y >= 0; --y) {
    QByteArray row(xorRow, '\0');
    for (int x = 0; x < size; ++x) {
      const std::uint32_t v = pixels(x, y);
      if (bits == 32) {
        for (int k = 0; k < 4; ++k) row[x * 4 + k] = static_cast<char>((v >> (8 * k)) & 0xff);
      } else if (bits == 8) {
        row[x] = static_cast<char>(v);
      } else if (v) {
        row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
      }
    }
    out.append(row);
  }
  for (int y = size - 1; y >= 0; --y) {
    QByteArray row(andRow, '\0');
    for (int x = 0; x < size; ++x)
      if (transparent(x, y)) row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
    out.append(row);
  }
  return out.data();
}

QByteArray icon32(const QImage& image) {
  return dibImage(
      image.width(), 32, {},
      [&](int x, int y) { return static_cast<std::uint32_t>(image.pixel(x, y)); },  // BGRA in memory
      [&](int x, int y) { return qAlpha(image.pixel(x, y)) == 0; });
}

// 256 colours with a palette: index 0 is black, the colour of transparent
// pixels (AND bit set); pixels at least half opaque take the nearest of up to
// 255 colours.
QByteArray icon8(const QImage& image) {
  auto opaque = [&](int x, int y) { return qAlpha(image.pixel(x, y)) >= 128; };
  std::vector<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (opaque(x, y)) colours.push_back(image.pixel(x, y) | 0xff000000u);
  std::vector<QRgb> palette{qRgb(0, 0, 0)};
  for (QRgb c : medianCut(colours, 255)) palette.push_back(c);
  palette.resize(256, qRgb(0, 0, 0));
  return dibImage(
      image.width(), 8, palette,
      [&](int x, int y) {
        return opaque(x, y) ? static_cast<std::uint32_t>(nearest(palette, image.pixel(x, y), 1)) : 0u;
      },
      [&](int x, int y) { return !opaque(x, y); });
}

QByteArray handCursor() {
  constexpr int size = 32;
  auto at = [](int x, int y) {
    return y < static_cast<int>(kHand.size()) && x < static_cast<int>(kHand[y].size()) ? kHand[y][x] : '.';
  };
  return dibImage(
      size, 1, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, [&](int x, int y) { return at(x, y) == 'o' ? 1u : 0u; },
      [&](int x, int y) { return at(x, y) == '.'; });
}

struct Entry {
  int size;
  int bits;
  int colours;  // palette entries named in the directory, 0 for 256 or more
  int planesOrHotX;
  int bitsOrHotY;
  QByteArray image;
};

// ICONDIR (type 1 icon, 2 cursor), then one 16-byte ICONDIRENTRY per image,
// then the images.
QByteArray container(int type, const std::vector<Entry>& entries) {
  Bytes out;
  out.u16(0);
  out.u16(type);
  out.u16(static_cast<int>(entries.size()));
  std::uint32_t offset = 6 + 16 * static_cast<std::uint32_t>(entries.size());
  for (const Entry& e : entries) {
    out.u8(e.size >= 256 ? 0 : e.size);
    out.u8(e.size >= 256 ? 0 : e.size);
    out.u8(e.colours);
    out.u8(0);
    out.u16(e.planesOrHotX);
    out.u16(e.bitsOrHotY);
    out.u32(static_cast<std::uint32_t>(e.image.size()));
    out.u32(offset);
    offset += static_cast<std::uint32_t>(e.image.size());
  }
  for (const Entry& e : entries) out.append(e.image);
  return out.data();
}

bool writeFile(const QString& path, const QByteArray& data) {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly) || file.write(data) != data.size()) {
    std::fprintf(stderr, "quorrel-artwork: cannot write %s\n", qPrintable(path));
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: quorrel-artwork <resources folder>\n");
    return 2;
  }
  const QDir dir(QString::fromLocal8Bit(argv[1]));
  if (!dir.mkpath(QStringLiteral("icons"))) {
    std::fprintf(stderr, "quorrel-artwork: cannot create %s/icons\n", argv[1]);
    return 1;
  }

  std::vector<Entry> icon;
  for (int size : {32, 16}) icon.push_back({size, 8, 0, 1, 8, icon8(drawIcon(size))});
  for (int size : {128, 48, 32, 16}) icon.push_back({size, 32, 0, 1, 32, icon32(drawIcon(size))});

  bool ok = writeFile(dir.filePath(QStringLiteral("quorrel.ico")), container(1, icon));
  ok = writeFile(dir.filePath(QStringLiteral("hand.cur")),
                 container(2, {{32, 1, 2, kHotX, kHotY, handCursor()}})) &&
       ok;
  for (int size : {16, 32, 48, 128}) {
    const QString png = dir.filePath(QStringLiteral("icons/quorrel-%1.png").arg(size));
    if (!drawIcon(size).save(png, "PNG")) {
      std::fprintf(stderr, "quorrel-artwork: cannot write %s\n", qPrintable(png));
      ok = false;
    }
  }
  return ok ? 0 : 1;
}
