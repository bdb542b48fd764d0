#pragma once
// The drawing primitives of the owner-drawn grids: colours in the layout the
// configuration and the design use, and the canvas a cell is drawn on, with
// the cache of text widths that keeps repaints cheap.
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QHash>
#include <QRect>
#include <QString>
#include <QtGlobal>
#include <memory>

class QPainter;

// A colour in the layout 0x00BBGGRR.
using TColor = quint32;

inline constexpr TColor clBlack = 0x000000;
inline constexpr TColor clWhite = 0xFFFFFF;
inline constexpr TColor clRed = 0x0000FF;
inline constexpr TColor clYellow = 0x00FFFF;

QColor ToQColor(TColor color);
TColor FromQColor(const QColor& color);

enum class TBrushStyle { Solid, Clear };

enum TFontStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4, fsStrikeOut = 8 };
using TFontStyles = int;

// The measures of one font, and the widths of the texts measured with it.
// A grid keeps one between paints: measuring a text means shaping it, which
// costs more than drawing the rest of a cell, and a grid's texts change
// little from one paint to the next.
class TTextMetrics {
public:
    explicit TTextMetrics(const QFont& font) : m_font(font), m_metrics(font) {}
    const QFont& Font() const { return m_font; }
    int Width(const QString& text);
    int Height() const { return m_metrics.height(); }
    int Ascent() const { return m_metrics.ascent(); }

private:
    static constexpr qsizetype MaxKept = 4096;
    QFont m_font;
    QFontMetrics m_metrics;
    QHash<QString, int> m_widths;
};

// The drawing surface handed to DrawCell. Without a painter (outside
// painting) it still measures text with its font.
class TCanvas {
public:
    // The metrics, when given, are those of the font.
    explicit TCanvas(const QFont& font = QFont(), QPainter* painter = nullptr,
                     std::shared_ptr<TTextMetrics> metrics = {});

    const QFont& Font() const { return m_font; }
    void SetFont(const QFont& font);
    TFontStyles FontStyle() const;
    void SetFontStyle(TFontStyles style);
    TColor FontColor() const { return m_fontColor; }
    void SetFontColor(TColor color) { m_fontColor = color; }
    TColor BrushColor() const { return m_brushColor; }
    // Choosing a brush colour also makes the brush solid.
    void SetBrushColor(TColor color);
    TBrushStyle BrushStyle() const { return m_brushStyle; }
    void SetBrushStyle(TBrushStyle style) { m_brushStyle = style; }

    // Fills the rectangle with the brush colour (a clear brush fills nothing).
    void FillRect(const QRect& rect);
    // Writes text with its top-left corner at (x, y), clipped to the rectangle;
    // with a solid brush the rectangle is first filled with the brush colour.
    void TextRect(const QRect& clip, int x, int y, const QString& text);
    int TextWidth(const QString& text) const;
    int TextHeight(const QString& text) const;
    // The raised inner edge of a 3-D cell: light top and left, shadow bottom
    // and right, one pixel wide, on the rectangle's border.
    void DrawRaisedInnerEdge(const QRect& rect);
    // A one-pixel frame in the given colour on the rectangle's border.
    void FrameRect(const QRect& rect, TColor color);

    QPainter* Painter() const { return m_painter; }

private:
    TTextMetrics& Metrics() const;

    QFont m_font;
    QPainter* m_painter;
    mutable std::shared_ptr<TTextMetrics> m_metrics; // of m_font; made when first needed
    TColor m_fontColor = clBlack;
    TColor m_brushColor = clWhite;
    TBrushStyle m_brushStyle = TBrushStyle::Solid;
};
