// The program icon and the hand cursor as committed in resources/, read back
// byte by byte: the images, their sizes and bit depths, the cursor's hot spot.

#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QtTest>

namespace {

QByteArray resource(const char* name) {
  QFile file(QStringLiteral(QUORREL_SOURCE_DIR "/resources/") + QString::fromLatin1(name));
  return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

quint32 u16(const QByteArray& d, qsizetype at) {
  return quint32(quint8(d[at])) | quint32(quint8(d[at + 1])) << 8;
}
quint32 u32(const QByteArray& d, qsizetype at) { return u16(d, at) | u16(d, at + 2) << 16; }

// One ICONDIRENTRY and the BITMAPINFOHEADER it points to.
struct Image {
  int width = 0, height = 0, colours = 0;
  int planesOrHotX = 0, bitsOrHotY = 0;
  quint32 bytes = 0, offset = 0;
  int dibWidth = 0, dibHeight = 0, dibBits = 0, dibCompression = -1;
  quint32 paletteSize = 0;
};

// The directory of an .ico (type 1) or .cur (type 2); empty when malformed.
QList<Image> directory(const QByteArray& d, quint32 type) {
  if (d.size() < 6 || u16(d, 0) != 0 || u16(d, 2) != type) return {};
  QList<Image> images;
  const quint32 count = u16(d, 4);
  for (quint32 i = 0; i < count; ++i) {
    const qsizetype e = 6 + 16 * qsizetype(i);
    if (e + 16 > d.size()) return {};
    Image im;
    im.width = quint8(d[e]) ? quint8(d[e]) : 256;
    im.height = quint8(d[e + 1]) ? quint8(d[e + 1]) : 256;
    im.colours = quint8(d[e + 2]);
    im.planesOrHotX = int(u16(d, e + 4));
    im.bitsOrHotY = int(u16(d, e + 6));
    im.bytes = u32(d, e + 8);
    im.offset = u32(d, e + 12);
    if (qsizetype(im.offset) + 40 > d.size() || qsizetype(im.offset + im.bytes) > d.size()) return {};
    if (u32(d, im.offset) != 40) return {};
    im.dibWidth = int(u32(d, im.offset + 4));
    im.dibHeight = int(u32(d, im.offset + 8));
    im.dibBits = int(u16(d, im.offset + 14));
    im.dibCompression = int(u32(d, im.offset + 16));
    im.paletteSize = u32(d, im.offset + 32);
    if (im.paletteSize == 0 && im.dibBits <= 8) im.paletteSize = 1u << im.dibBits;
    images << im;
  }
  return images;
}

int rowBytes(int width, int bits) { return (width * bits + 31) / 32 * 4; }

// Bytes an uncompressed image takes: header, palette, XOR and AND masks.
quint32 expectedBytes(const Image& im) {
  return 40 + 4 * im.paletteSize +
         quint32((rowBytes(im.width, im.dibBits) + rowBytes(im.width, 1)) * im.height);
}

// The AND bit of pixel (x, y), counted from the top; 1 = transparent.
bool andBit(const QByteArray& d, const Image& im, int x, int y) {
  const qsizetype masks = im.offset + 40 + 4 * im.paletteSize;
  const qsizetype andStart = masks + rowBytes(im.width, im.dibBits) * im.height;
  const qsizetype row = andStart + rowBytes(im.width, 1) * (im.height - 1 - y);
  return quint8(d[row + x / 8]) & (0x80 >> (x % 8));
}

// The XOR value of pixel (x, y) of a 1- or 8-bit image: a palette index.
int index(const QByteArray& d, const Image& im, int x, int y) {
  const qsizetype row =
      im.offset + 40 + 4 * im.paletteSize + rowBytes(im.width, im.dibBits) * (im.height - 1 - y);
  if (im.dibBits == 8) return quint8(d[row + x]);
  return (quint8(d[row + x / 8]) >> (7 - x % 8)) & 1;
}

QRgb paletteColour(const QByteArray& d, const Image& im, int i) {
  const qsizetype at = im.offset + 40 + 4 * i;
  return qRgb(quint8(d[at + 2]), quint8(d[at + 1]), quint8(d[at]));
}

}  // namespace

class ArtworkTest : public QObject {
  Q_OBJECT

 private slots:
  void icon_has_each_required_image_data();
  void icon_has_each_required_image();
  void icon_reads_back_as_a_green_disc_with_a_white_check();
  void desktop_pngs_are_the_icon_data();
  void desktop_pngs_are_the_icon();
  void cursor_is_a_monochrome_hand_pointing_from_its_hot_spot();
};

void ArtworkTest::icon_has_each_required_image_data() {
  QTest::addColumn<int>("side");
  QTest::addColumn<int>("bits");
  QTest::newRow("32x32, 256 colours") << 32 << 8;
  QTest::newRow("16x16, 256 colours") << 16 << 8;
  QTest::newRow("128x128, alpha") << 128 << 32;
  QTest::newRow("48x48, alpha") << 48 << 32;
  QTest::newRow("32x32, alpha") << 32 << 32;
  QTest::newRow("16x16, alpha") << 16 << 32;
}

void ArtworkTest::icon_has_each_required_image() {
  QFETCH(int, side);
  QFETCH(int, bits);
  const QByteArray d = resource("quorrel.ico");
  const QList<Image> images = directory(d, 1);
  QCOMPARE(images.size(), 6);

  int found = 0;
  for (const Image& im : images) {
    if (im.width != side || im.dibBits != bits) continue;
    ++found;
    QCOMPARE(im.height, side);
    QCOMPARE(im.bitsOrHotY, bits);  // the directory agrees with the image
    QCOMPARE(im.planesOrHotX, 1);
    QCOMPARE(im.dibWidth, side);
    QCOMPARE(im.dibHeight, 2 * side);  // XOR and AND masks
    QCOMPARE(im.dibCompression, 0);
    if (bits == 8) QVERIFY(im.paletteSize >= 2 && im.paletteSize <= 256);
    else QCOMPARE(im.paletteSize, 0u);
    QCOMPARE(im.bytes, expectedBytes(im));
    // Round: the corners are see-through, the centre is not.
    QVERIFY(andBit(d, im, 0, 0));
    QVERIFY(!andBit(d, im, side / 2, side / 2));
  }
  QCOMPARE(found, 1);
}

void ArtworkTest::icon_reads_back_as_a_green_disc_with_a_white_check() {
  QFile file(QStringLiteral(QUORREL_SOURCE_DIR "/resources/quorrel.ico"));
  QImageReader reader(&file, "ico");
  QCOMPARE(reader.imageCount(), 6);
  for (int i = 0; i < 6; ++i) {
    QVERIFY(reader.jumpToImage(i));
    const QImage image = reader.read().convertToFormat(QImage::Format_ARGB32);
    QVERIFY2(!image.isNull(), qPrintable(reader.errorString()));
    const int s = image.width();
    const QString where = QStringLiteral("image %1 (%2 px)").arg(i).arg(s);
    const QRgb disc = image.pixel(s / 2, s * 7 / 8);  // below the check mark
    QVERIFY2(qAlpha(disc) == 255 && qGreen(disc) > qRed(disc) + 40 && qGreen(disc) > qBlue(disc) + 40,
             qPrintable(where));
    int white = 0;
    for (int y = 0; y < s; ++y)
      for (int x = 0; x < s; ++x) {
        const QRgb c = image.pixel(x, y);
        if (qAlpha(c) == 255 && qRed(c) > 225 && qGreen(c) > 225 && qBlue(c) > 225) ++white;
      }
    QVERIFY2(white >= s * s / 40, qPrintable(where));  // the check mark is there
  }
}

void ArtworkTest::desktop_pngs_are_the_icon_data() {
  QTest::addColumn<int>("side");
  for (int side : {16, 32, 48, 128}) QTest::newRow(qPrintable(QString::number(side))) << side;
}

void ArtworkTest::desktop_pngs_are_the_icon() {
  QFETCH(int, side);
  const QImage png(QStringLiteral(QUORREL_SOURCE_DIR "/resources/icons/quorrel-%1.png").arg(side));
  QCOMPARE(png.size(), QSize(side, side));
  QVERIFY(png.hasAlphaChannel());

  QFile file(QStringLiteral(QUORREL_SOURCE_DIR "/resources/quorrel.ico"));
  QImageReader reader(&file, "ico");
  bool matched = false;
  for (int i = 0; i < reader.imageCount() && !matched; ++i) {
    QVERIFY(reader.jumpToImage(i));
    const QImage image = reader.read();
    matched = image.depth() == 32 && image.size() == png.size() &&
              image.convertToFormat(QImage::Format_ARGB32) == png.convertToFormat(QImage::Format_ARGB32);
  }
  QVERIFY2(matched, "no 32-bit image of the icon equals the PNG");
}

void ArtworkTest::cursor_is_a_monochrome_hand_pointing_from_its_hot_spot() {
  const QByteArray d = resource("hand.cur");
  const QList<Image> images = directory(d, 2);
  QCOMPARE(images.size(), 1);
  const Image& im = images.first();
  QCOMPARE(QSize(im.width, im.height), QSize(32, 32));
  QCOMPARE(QPoint(im.planesOrHotX, im.bitsOrHotY), QPoint(6, 0));  // hot spot
  QCOMPARE(im.dibBits, 1);
  QCOMPARE(im.dibHeight, 64);
  QCOMPARE(im.paletteSize, 2u);
  QCOMPARE(paletteColour(d, im, 0), qRgb(0, 0, 0));
  QCOMPARE(paletteColour(d, im, 1), qRgb(255, 255, 255));
  QCOMPARE(im.bytes, expectedBytes(im));

  // The hot spot is the black outline at the tip of the finger: drawn, and
  // nothing drawn above or beside it on the top row but the tip itself.
  QVERIFY(!andBit(d, im, 6, 0));
  QCOMPARE(index(d, im, 6, 0), 0);
  for (int x = 0; x < 5; ++x) QVERIFY(andBit(d, im, x, 0));
  QVERIFY(andBit(d, im, 31, 31));
  int white = 0;
  for (int y = 0; y < 32; ++y)
    for (int x = 0; x < 32; ++x) white += !andBit(d, im, x, y) && index(d, im, x, y) == 1;
  QVERIFY(white > 100);  // a filled hand, not an outline alone
}

QTEST_MAIN(ArtworkTest)
#include "artwork_test.moc"
