// Paints a view's cells as Qt's styled delegate does, with the layout of
// each text kept for the next paint: a list that shows new rows ten times a
// second mostly shows texts it has drawn before (addresses, ports,
// lengths), and shaping them again each time was most of its painting.
#pragma once

#include <QFont>
#include <QHash>
#include <QStaticText>
#include <QStyledItemDelegate>

namespace orvanel {

class CellDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

  // Layouts kept at most; past that the cache starts afresh.
  static constexpr qsizetype kCachedTexts = 512;

 private:
  // A text as it is drawn in a given width: elided if it did not fit.
  struct Key {
    QString text;
    int width;
    Qt::TextElideMode elide;
    friend bool operator==(const Key&, const Key&) = default;
    friend size_t qHash(const Key& key, size_t seed) { return qHashMulti(seed, key.text, key.width, key.elide); }
  };
  struct Line {
    QStaticText text;
    QSize size;  // of the line as laid out, before eliding
  };
  const Line& LineOf(const QString& text, int width, const QStyleOptionViewItem& cell) const;

  mutable QHash<Key, Line> lines_;
  mutable QFont font_;
};

}  // namespace orvanel
