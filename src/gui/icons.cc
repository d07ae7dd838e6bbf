#include "gui/icons.h"

#include <QHash>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include "console/result_views.h"

namespace gui {

namespace {

enum class Shape { kFolder, kServer, kCollection, kUser, kProperty, kError, kSearch };

struct IconDefinition {
  const char* theme_name;
  Shape shape;
  QColor color;
  QColor badge;  // a small dot in the lower right corner; invalid for none
};

IconDefinition DefinitionOf(int index) {
  switch (index) {
    case console::kIconServersFolder:
      return {"folder-remote", Shape::kFolder, QColor(0xE8, 0xB8, 0x4A), {}};
    case console::kIconServerConnected:
      return {"network-server", Shape::kServer, QColor(0x6D, 0x7B, 0x8D), QColor(0x2E, 0xA0, 0x43)};
    case console::kIconServerStopped:
      return {"", Shape::kServer, QColor(0x6D, 0x7B, 0x8D), QColor(0xC6, 0x28, 0x28)};
    case console::kIconServerNotConnected:
      return {"", Shape::kServer, QColor(0xA0, 0xA8, 0xB0), QColor(0x9E, 0x9E, 0x9E)};
    case kIconConnecting:
      return {"", Shape::kServer, QColor(0xA0, 0xA8, 0xB0), QColor(0xF0, 0xA8, 0x20)};
    case console::kIconCollection:
      return {"", Shape::kCollection, QColor(0x3A, 0x78, 0xC2), {}};
    case console::kIconUser:
      return {"", Shape::kUser, QColor(0x4A, 0x8A, 0x5C), {}};
    case console::kIconPropertiesFolder:
      return {"", Shape::kFolder, QColor(0x9C, 0x7A, 0xC8), {}};
    case console::kIconProperty:
      return {"", Shape::kProperty, QColor(0x70, 0x70, 0x70), {}};
    case console::kIconLoginsFolder:
      return {"", Shape::kFolder, QColor(0x4A, 0x8A, 0x5C), {}};
    case console::kIconCollectionsFolder:
      return {"", Shape::kFolder, QColor(0x3A, 0x78, 0xC2), {}};
    case console::kIconError:
      return {"dialog-error", Shape::kError, QColor(0xC6, 0x28, 0x28), {}};
    case console::kIconFullText:
      return {"system-search", Shape::kSearch, QColor(0xD0, 0x7A, 0x20), {}};
  }
  return {nullptr, Shape::kFolder, {}, {}};
}

// Drawn on a 16-unit grid and scaled, so the picture stays crisp at any size.
QPixmap Draw(const IconDefinition& definition, int size) {
  QPixmap pixmap(size, size);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.scale(size / 16.0, size / 16.0);
  QColor dark = definition.color.darker(150);
  painter.setPen(QPen(dark, 0.8));
  painter.setBrush(definition.color);
  switch (definition.shape) {
    case Shape::kFolder: {
      QPainterPath path;
      path.moveTo(1, 3.5);
      path.lineTo(6, 3.5);
      path.lineTo(7.5, 5);
      path.lineTo(15, 5);
      path.lineTo(15, 13.5);
      path.lineTo(1, 13.5);
      path.closeSubpath();
      painter.drawPath(path);
      painter.setBrush(definition.color.lighter(125));
      painter.drawRect(QRectF(1, 6.5, 14, 7));
      break;
    }
    case Shape::kServer:
      painter.drawRoundedRect(QRectF(3, 1, 10, 14), 1.5, 1.5);
      painter.setPen(QPen(Qt::white, 1));
      painter.drawLine(QPointF(5, 4), QPointF(11, 4));
      painter.drawLine(QPointF(5, 6.5), QPointF(11, 6.5));
      break;
    case Shape::kCollection:
      painter.drawRect(QRectF(2.5, 4, 11, 8));
      painter.drawEllipse(QRectF(2.5, 9.5, 11, 5));
      painter.setPen(Qt::NoPen);
      painter.drawRect(QRectF(2.9, 4, 10.2, 8));
      painter.setPen(QPen(dark, 0.8));
      painter.setBrush(definition.color.lighter(140));
      painter.drawEllipse(QRectF(2.5, 1.5, 11, 5));
      break;
    case Shape::kUser:
      painter.drawEllipse(QRectF(5, 1.5, 6, 6));
      painter.drawRoundedRect(QRectF(2.5, 8.5, 11, 6.5), 3, 3);
      break;
    case Shape::kProperty:
      painter.setBrush(Qt::white);
      painter.drawRect(QRectF(3, 1.5, 10, 13));
      painter.setPen(QPen(definition.color, 1));
      for (double y : {5.0, 8.0, 11.0}) painter.drawLine(QPointF(5, y), QPointF(11, y));
      break;
    case Shape::kError:
      painter.drawEllipse(QRectF(1.5, 1.5, 13, 13));
      painter.setPen(QPen(Qt::white, 2));
      painter.drawLine(QPointF(5.5, 5.5), QPointF(10.5, 10.5));
      painter.drawLine(QPointF(10.5, 5.5), QPointF(5.5, 10.5));
      break;
    case Shape::kSearch:
      painter.setBrush(definition.color.lighter(170));
      painter.setPen(QPen(dark, 1.6));
      painter.drawEllipse(QRectF(1.5, 1.5, 9, 9));
      painter.setPen(QPen(dark, 2.4, Qt::SolidLine, Qt::RoundCap));
      painter.drawLine(QPointF(9.5, 9.5), QPointF(14, 14));
      break;
  }
  if (definition.badge.isValid()) {
    painter.setPen(QPen(Qt::white, 0.8));
    painter.setBrush(definition.badge);
    painter.drawEllipse(QRectF(9.5, 9.5, 6, 6));
  }
  return pixmap;
}

}  // namespace

QIcon ConsoleIcon(int index) {
  // Drawn once per index: lists ask for the same few icons again and again. Icons belong to the
  // user-interface thread, so one cache for it is enough.
  static QHash<int, QIcon> cache;
  if (auto found = cache.constFind(index); found != cache.constEnd()) return *found;
  IconDefinition definition = DefinitionOf(index);
  if (!definition.theme_name) return {};
  QIcon drawn;
  // Up to 128 pixels, so a 64-pixel picture stays crisp at 200 % scaling.
  for (int size : {16, 24, 32, 48, 64, 96, 128}) drawn.addPixmap(Draw(definition, size));
  // Only states the theme has a name for come from it; the badges of the server states do not.
  QIcon icon = *definition.theme_name ? QIcon::fromTheme(definition.theme_name, drawn) : drawn;
  cache.insert(index, icon);
  return icon;
}

}  // namespace gui
