#include "ui/window_icon.h"

#include <QIconEngine>
#include <QImage>
#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

namespace orvanel {
namespace {

class SvgIconEngine final : public QIconEngine {
 public:
  SvgIconEngine() : renderer_(QStringLiteral(":/orvanel/orvanel.svg")) {}

  void paint(QPainter* painter, const QRect& rect, QIcon::Mode, QIcon::State) override {
    renderer_.render(painter, rect);
  }

  // size is in device pixels: QIcon asks for the size times the screen's ratio.
  QPixmap pixmap(const QSize& size, QIcon::Mode, QIcon::State) override {
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    renderer_.render(&painter);
    painter.end();
    return QPixmap::fromImage(image);
  }

  QList<QSize> availableSizes(QIcon::Mode, QIcon::State) override {
    return {QSize(16, 16), QSize(24, 24), QSize(32, 32), QSize(48, 48)};
  }

  [[nodiscard]] QString key() const override { return QStringLiteral("orvanel-svg"); }
  [[nodiscard]] QIconEngine* clone() const override { return new SvgIconEngine; }

 private:
  QSvgRenderer renderer_;
};

}  // namespace

QIcon ProgramIcon() { return QIcon(new SvgIconEngine); }

}  // namespace orvanel
