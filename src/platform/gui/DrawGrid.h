#pragma once
// TDrawGrid: the owner-drawn grid the list grids are built on, as a thin
// layer over QTableView. Grid numbering follows the owner-drawn model: row 0
// is the one fixed header row (painted by the grid itself through the
// horizontal header), rows 1 .. RowCount() - 1 are data rows (model row r - 1),
// there is no fixed column. Every cell, header included, is painted by the
// virtual DrawCell through a TCanvas; every cell's full text is the model's
// DisplayRole text (CellText), so assistive technology can read the grid.
#include "platform/gui/Canvas.h"
#include <QAbstractTableModel>
#include <QHeaderView>
#include <QRect>
#include <QString>
#include <QStyledItemDelegate>
#include <QTableView>
#include <QtGlobal>
#include <memory>

struct TGridDrawState {
    bool Fixed = false;
    bool Selected = false;
    bool Focused = false;
};

class TDrawGrid;

class TDrawGridModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TDrawGridModel(TDrawGrid* grid);
    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    friend class TDrawGrid;
    void ChangeRowCount(int dataRows);
    void ChangeColumnCount(int columns);
    TDrawGrid* m_grid;
    int m_dataRows = 1;
    int m_columns = 5;
};

class TDrawGridDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    explicit TDrawGridDelegate(TDrawGrid* grid);
    void paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const override;

private:
    TDrawGrid* m_grid;
};

class TDrawGridHeader : public QHeaderView {
    Q_OBJECT
public:
    explicit TDrawGridHeader(TDrawGrid* grid);

protected:
    void paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const override;
    void paintEvent(QPaintEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    TDrawGrid* m_grid;
};

class TDrawGrid : public QTableView {
    Q_OBJECT
public:
    explicit TDrawGrid(QWidget* parent = nullptr);
    ~TDrawGrid() override;

    // Counts in grid numbering: RowCount includes the fixed header row.
    int RowCount() const;
    void SetRowCount(int rows);
    int ColCount() const;
    void SetColCount(int columns);
    int FixedRows() const { return 1; }
    int FixedCols() const { return 0; }

    int DefaultRowHeight() const { return m_defaultRowHeight; }
    void SetDefaultRowHeight(int height);
    int DefaultColWidth() const { return m_defaultColWidth; }
    // Sets every column to the width, as the owner-drawn grid does.
    void SetDefaultColWidth(int width);
    int ColWidth(int column) const;
    void SetColWidth(int column, int width);

    TColor Color() const { return m_color; }
    void SetColor(TColor color);
    TColor FixedColor() const { return m_fixedColor; }
    void SetFixedColor(TColor color);
    bool Ctl3D() const { return m_ctl3D; }
    void SetCtl3D(bool on);

    // Options: dragging column borders in the header row.
    bool ColumnSizing() const { return m_columnSizing; }
    void SetColumnSizing(bool on);
    // Scroll bars: a horizontal one is never shown; the vertical one follows
    // the rows unless switched off.
    bool VerticalScrollBarAllowed() const { return m_verticalScrollBar; }
    void SetVerticalScrollBarAllowed(bool on);

    // Whole-row selection: the current row is drawn in the selected state and
    // every move of it (mouse or keyboard) reaches SelectCell.
    bool RowSelect() const { return m_rowSelect; }
    void SetRowSelect(bool on);
    // The current row in grid numbering; -1 when there is none.
    int Row() const;
    // Makes the row current (a row outside the data rows clears it).
    void SetRow(int row);
    int TopRow() const;
    void SetTopRow(int row);

    // A canvas with the grid's font for measuring outside painting.
    TCanvas& Canvas() { return m_canvas; }

    // Maps a point in the grid's own coordinates to a cell: true and the
    // column and row when it lands on one, else false with both -1.
    bool MouseToCell(const QPoint& point, int& column, int& row) const;
    // The cell's rectangle in the grid's own coordinates (empty when not shown).
    QRect CellRect(int column, int row) const;

    void InvalidateCell(int column, int row);
    void InvalidateGrid();

    // Paints one cell through DrawCell with a canvas on the painter.
    void PaintCell(QPainter* painter, int column, int row, const QRect& rect, TGridDrawState state);

    // The cell's full text (the header title for row 0); the accessible
    // text of the cell and what DrawCell fits into it.
    // Empty in the adapter itself (the view asks while it is being built).
    virtual QString CellText(int column, int row) const;

protected:
    virtual void DrawCell(int column, int row, const QRect& rect, TGridDrawState state) = 0;
    // After the view's own handling of a released button; point in the
    // grid's own coordinates. Header releases come here with row 0 too.
    virtual void MouseUp(Qt::MouseButton button, Qt::KeyboardModifiers shift, const QPoint& point);
    // The grid's font changed (the canvas already has the new font).
    virtual void FontChanged();
    // The grid's size changed.
    virtual void SizeChanged();
    // With RowSelect on: the current cell moved to (column, row).
    virtual void SelectCell(int column, int row);

    // A symbol reaches external linking only when the trader picks it: a
    // left press or release, or an arrow key. Focus arriving any other way,
    // the other buttons, a drag across rows and typed letters move nothing.
    void focusInEvent(QFocusEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyboardSearch(const QString& search) override;
    void changeEvent(QEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

private:
    friend class TDrawGridHeader;
    void ApplyColors();
    void ApplyFont();
    void ForwardMouseUp(QMouseEvent* event, const QPoint& gridPoint);

    TDrawGridModel* m_model;
    TDrawGridHeader* m_header;
    std::shared_ptr<TTextMetrics> m_metrics; // of the grid's font
    TCanvas m_canvas;
    int m_defaultRowHeight = 24;
    int m_defaultColWidth = 64;
    TColor m_color;
    TColor m_fixedColor;
    bool m_ctl3D = true;
    bool m_columnSizing = true;
    bool m_verticalScrollBar = true;
    bool m_rowSelect = false;
};
