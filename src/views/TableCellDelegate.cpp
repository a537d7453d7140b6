#include "views/TableCellDelegate.h"

#include <QApplication>
#include <QFontMetricsF>
#include <QGlyphRun>
#include <QPainter>
#include <QStyle>

const TTableCellDelegate::TGlyphs& TTableCellDelegate::GlyphsFor(const QFont& font) const
{
    if (Prepared && Glyphs.Font == font)
        return Glyphs;
    Glyphs = TGlyphs();
    Glyphs.Font = font;
    Glyphs.Raw = QRawFont::fromFont(font);
    const QFontMetricsF metrics(font);
    Glyphs.Ascent = metrics.ascent();
    // The style centres a line as high as ascent plus descent, in whole pixels.
    Glyphs.LineHeight = static_cast<int>(metrics.ascent() + metrics.descent());
    if (Glyphs.Raw.isValid()) {
        for (char c = ' '; c < 127; ++c) {
            const QList<quint32> index = Glyphs.Raw.glyphIndexesForString(QString(QLatin1Char(c)));
            if (index.size() != 1 || (index[0] == 0 && c != ' '))
                continue;
            const QList<QPointF> advance = Glyphs.Raw.advancesForGlyphIndexes(index);
            Glyphs.Index[static_cast<int>(c)] = index[0];
            Glyphs.Advance[static_cast<int>(c)] = advance.value(0).x();
            Glyphs.Known[static_cast<int>(c)] = true;
        }
    }
    Prepared = true;
    return Glyphs;
}

void TTableCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    QStyleOptionViewItem opt = option;
    initStyleOption(&opt, index);
    constexpr QStyle::State kNotPlain = QStyle::State_Selected | QStyle::State_HasFocus | QStyle::State_MouseOver;
    const bool plain = !(opt.state & kNotPlain) && opt.features == QStyleOptionViewItem::HasDisplay &&
                       opt.backgroundBrush.style() == Qt::NoBrush && opt.direction == Qt::LeftToRight &&
                       (opt.displayAlignment & Qt::AlignHorizontal_Mask) == Qt::AlignLeft &&
                       (opt.displayAlignment & Qt::AlignVertical_Mask) == Qt::AlignVCenter;
    const TGlyphs& glyphs = GlyphsFor(opt.font);
    if (!plain || !glyphs.Raw.isValid()) {
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    const QWidget* widget = opt.widget;
    const QStyle* style = widget ? widget->style() : QApplication::style();
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, widget) + 1;
    const QRect textRect = opt.rect.adjusted(margin, 0, -margin, 0);

    QList<quint32> indexes;
    QList<QPointF> positions;
    indexes.reserve(opt.text.size());
    positions.reserve(opt.text.size());
    const qreal baseline = textRect.top() + (textRect.height() - glyphs.LineHeight) / 2 + glyphs.Ascent;
    qreal x = textRect.left();
    for (const QChar ch : opt.text) {
        const char16_t c = ch.unicode();
        if (c >= 128 || !glyphs.Known[c]) {
            QStyledItemDelegate::paint(painter, option, index);
            return;
        }
        indexes.push_back(glyphs.Index[c]);
        positions.push_back(QPointF(x, baseline));
        x += glyphs.Advance[c];
    }
    if (x > textRect.right() + 1) { // would be elided
        QStyledItemDelegate::paint(painter, option, index);
        return;
    }
    painter->save();
    painter->setClipRect(opt.rect);
    style->drawPrimitive(QStyle::PE_PanelItemViewItem, &opt, painter, widget);
    if (!indexes.isEmpty()) {
        QPalette::ColorGroup group = opt.state & QStyle::State_Enabled ? QPalette::Normal : QPalette::Disabled;
        if (group == QPalette::Normal && !(opt.state & QStyle::State_Active))
            group = QPalette::Inactive;
        QGlyphRun run;
        run.setRawFont(glyphs.Raw);
        run.setGlyphIndexes(indexes);
        run.setPositions(positions);
        painter->setPen(opt.palette.color(group, QPalette::Text));
        painter->drawGlyphRun(QPointF(0, 0), run);
    }
    painter->restore();
}
