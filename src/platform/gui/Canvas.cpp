#include "platform/gui/Canvas.h"
#include <QApplication>
#include <QPainter>
#include <QPalette>

QColor ToQColor(TColor color) { return QColor(int(color & 0xFF), int((color >> 8) & 0xFF), int((color >> 16) & 0xFF)); }

TColor FromQColor(const QColor& color)
{
    return TColor(color.red()) | (TColor(color.green()) << 8) | (TColor(color.blue()) << 16);
}

int TTextMetrics::Width(const QString& text)
{
    const auto known = m_widths.constFind(text);
    if (known != m_widths.cend())
        return *known;
    if (m_widths.size() >= MaxKept)
        m_widths.clear();
    const int width = m_metrics.horizontalAdvance(text);
    m_widths.insert(text, width);
    return width;
}

TCanvas::TCanvas(const QFont& font, QPainter* painter, std::shared_ptr<TTextMetrics> metrics)
    : m_font(font), m_painter(painter), m_metrics(std::move(metrics))
{}

TTextMetrics& TCanvas::Metrics() const
{
    if (!m_metrics)
        m_metrics = std::make_shared<TTextMetrics>(m_font);
    return *m_metrics;
}

void TCanvas::SetFont(const QFont& font)
{
    if (font == m_font)
        return;
    m_font = font;
    m_metrics.reset();
}

TFontStyles TCanvas::FontStyle() const
{
    TFontStyles style = 0;
    if (m_font.bold())
        style |= fsBold;
    if (m_font.italic())
        style |= fsItalic;
    if (m_font.underline())
        style |= fsUnderline;
    if (m_font.strikeOut())
        style |= fsStrikeOut;
    return style;
}

void TCanvas::SetFontStyle(TFontStyles style)
{
    if (style == FontStyle())
        return;
    m_metrics.reset();
    m_font.setBold(style & fsBold);
    m_font.setItalic(style & fsItalic);
    m_font.setUnderline(style & fsUnderline);
    m_font.setStrikeOut(style & fsStrikeOut);
}

void TCanvas::SetBrushColor(TColor color)
{
    // As with the owner-drawn grid's brush, choosing a colour makes it solid.
    m_brushColor = color;
    m_brushStyle = TBrushStyle::Solid;
}

void TCanvas::FillRect(const QRect& rect)
{
    if (m_painter && m_brushStyle == TBrushStyle::Solid)
        m_painter->fillRect(rect, ToQColor(m_brushColor));
}

void TCanvas::TextRect(const QRect& clip, int x, int y, const QString& text)
{
    if (!m_painter)
        return;
    m_painter->save();
    if (m_brushStyle == TBrushStyle::Solid)
        m_painter->fillRect(clip, ToQColor(m_brushColor));
    m_painter->setClipRect(clip, Qt::IntersectClip);
    m_painter->setFont(m_font);
    m_painter->setPen(ToQColor(m_fontColor));
    m_painter->drawText(QPoint(x, y + Metrics().Ascent()), text);
    m_painter->restore();
}

int TCanvas::TextWidth(const QString& text) const { return Metrics().Width(text); }

int TCanvas::TextHeight(const QString&) const { return Metrics().Height(); }

void TCanvas::DrawRaisedInnerEdge(const QRect& rect)
{
    if (!m_painter || rect.isEmpty())
        return;
    const QPalette palette = QApplication::palette();
    const QColor light = palette.color(QPalette::Light);
    const QColor shadow = palette.color(QPalette::Dark);
    m_painter->fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), light);
    m_painter->fillRect(QRect(rect.left(), rect.top(), 1, rect.height()), light);
    m_painter->fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), shadow);
    m_painter->fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), shadow);
}

void TCanvas::FrameRect(const QRect& rect, TColor color)
{
    if (!m_painter || rect.isEmpty())
        return;
    const QColor c = ToQColor(color);
    m_painter->fillRect(QRect(rect.left(), rect.top(), rect.width(), 1), c);
    m_painter->fillRect(QRect(rect.left(), rect.bottom(), rect.width(), 1), c);
    m_painter->fillRect(QRect(rect.left(), rect.top(), 1, rect.height()), c);
    m_painter->fillRect(QRect(rect.right(), rect.top(), 1, rect.height()), c);
}
