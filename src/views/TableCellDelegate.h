#pragma once
#include <QFont>
#include <QRawFont>
#include <QStyledItemDelegate>
#include <QVector>

// Paints the receive table's cells as the style paints a plain text cell, but
// without laying the text out on every paint: the cells hold only digits,
// upper-case letters and blanks in one font, so their glyphs and advances are
// looked up once per font and each cell is drawn as one glyph run. Any cell
// that is not plain (selected, focused, under the mouse, with characters not
// in the table, or too wide for its column) is painted by the style itself.
class TTableCellDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    // Glyph index and advance of each printable ASCII character in one font.
    struct TGlyphs {
        QFont Font;
        QRawFont Raw;
        quint32 Index[128] = {};
        qreal Advance[128] = {};
        bool Known[128] = {};
        qreal Ascent = 0;
        int LineHeight = 0;
    };
    const TGlyphs& GlyphsFor(const QFont& font) const;

    mutable TGlyphs Glyphs;
    mutable bool Prepared = false;
};
