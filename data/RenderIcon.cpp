// Build step: draws the SVG application icon into a square PNG of the given size, so the
// bitmap icons always match the drawing.
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>

#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: %s ICON.svg OUT.png SIZE\n", argv[0]);
    return 2;
  }
  QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
  const int size = std::atoi(argv[3]);
  if (!svg.isValid() || size <= 0) {
    std::fprintf(stderr, "%s: cannot read '%s' or bad size '%s'\n", argv[0], argv[1], argv[3]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  {
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
  }
  if (!image.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
    std::fprintf(stderr, "%s: cannot write '%s'\n", argv[0], argv[2]);
    return 1;
  }
  return 0;
}
