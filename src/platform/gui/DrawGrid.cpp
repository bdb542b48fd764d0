#include "platform/gui/DrawGrid.h"
#include "base/DebugLog.h"
#include "base/GuardedCall.h"
#include <QApplication>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>

// ---- TDrawGridModel

TDrawGridModel::TDrawGridModel(TDrawGrid* grid) : QAbstractTableModel(grid), m_grid(grid) {}

int TDrawGridModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_dataRows; }

int TDrawGridModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : m_columns; }

QVariant TDrawGridModel::data(const QModelIndex& index, int role) const
{
    if (role != Qt::DisplayRole || !index.isValid())
        return {};
    return m_grid->CellText(index.column(), index.row() + 1);
}

QVariant TDrawGridModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 || section >= m_columns)
        return {};
    return m_grid->CellText(section, 0);
}

Qt::ItemFlags TDrawGridModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsEnabled | Qt::ItemIsSelectable : Qt::NoItemFlags;
}

void TDrawGridModel::ChangeRowCount(int dataRows)
{
    dataRows = std::max(dataRows, 0);
    if (dataRows > m_dataRows) {
        beginInsertRows(QModelIndex(), m_dataRows, dataRows - 1);
        m_dataRows = dataRows;
        endInsertRows();
    } else if (dataRows < m_dataRows) {
        beginRemoveRows(QModelIndex(), dataRows, m_dataRows - 1);
        m_dataRows = dataRows;
        endRemoveRows();
    }
}

void TDrawGridModel::ChangeColumnCount(int columns)
{
    columns = std::max(columns, 0);
    if (columns > m_columns) {
        beginInsertColumns(QModelIndex(), m_columns, columns - 1);
        m_columns = columns;
        endInsertColumns();
    } else if (columns < m_columns) {
        beginRemoveColumns(QModelIndex(), columns, m_columns - 1);
        m_columns = columns;
        endRemoveColumns();
    }
}

// ---- TDrawGridDelegate

TDrawGridDelegate::TDrawGridDelegate(TDrawGrid* grid) : QStyledItemDelegate(grid), m_grid(grid) {}

void TDrawGridDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option, const QModelIndex& index) const
{
    TGridDrawState state;
    state.Selected = option.state.testFlag(QStyle::State_Selected);
    state.Focused = option.state.testFlag(QStyle::State_HasFocus);
    m_grid->PaintCell(painter, index.column(), index.row() + 1, option.rect, state);
}

// ---- TDrawGridHeader

TDrawGridHeader::TDrawGridHeader(TDrawGrid* grid) : QHeaderView(Qt::Horizontal, grid), m_grid(grid) {}

void TDrawGridHeader::paintSection(QPainter* painter, const QRect& rect, int logicalIndex) const
{
    TGridDrawState state;
    state.Fixed = true;
    m_grid->PaintCell(painter, logicalIndex, 0, rect, state);
}

void TDrawGridHeader::paintEvent(QPaintEvent* event)
{
    QHeaderView::paintEvent(event);
    // Past the last column the header row shows the grid's background, like the rows below.
    const int end = length() - offset();
    if (end < viewport()->width()) {
        QPainter painter(viewport());
        painter.fillRect(QRect(end, 0, viewport()->width() - end, viewport()->height()), ToQColor(m_grid->Color()));
    }
}

void TDrawGridHeader::mouseReleaseEvent(QMouseEvent* event)
{
    QHeaderView::mouseReleaseEvent(event);
    m_grid->ForwardMouseUp(event, viewport()->mapTo(m_grid, event->position().toPoint()));
}

// ---- TDrawGrid

TDrawGrid::TDrawGrid(QWidget* parent)
    : QTableView(parent), m_model(new TDrawGridModel(this)), m_header(new TDrawGridHeader(this)),
      m_metrics(std::make_shared<TTextMetrics>(font())), m_canvas(font(), nullptr, m_metrics),
      m_color(clWhite), m_fixedColor(FromQColor(QApplication::palette().color(QPalette::Button)))
{
    setHorizontalHeader(m_header);
    setModel(m_model);
    setItemDelegate(new TDrawGridDelegate(this));

    m_header->setSectionsClickable(false);
    m_header->setHighlightSections(false);
    m_header->setStretchLastSection(false);
    m_header->setMinimumSectionSize(0);
    m_header->setDefaultSectionSize(m_defaultColWidth);
    m_header->setSectionResizeMode(QHeaderView::Interactive);
    m_header->setFixedHeight(m_defaultRowHeight);

    QHeaderView* rows = verticalHeader();
    rows->hide();
    rows->setMinimumSectionSize(0);
    rows->setSectionResizeMode(QHeaderView::Fixed);
    rows->setDefaultSectionSize(m_defaultRowHeight);

    setFrameShape(QFrame::NoFrame);
    setShowGrid(false);
    setWordWrap(false);
    setCornerButtonEnabled(false);
    setTabKeyNavigation(false);
    setAutoScroll(false);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::NoSelection);
    setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    ApplyColors();
}

TDrawGrid::~TDrawGrid() = default;

int TDrawGrid::RowCount() const { return m_model->m_dataRows + FixedRows(); }

void TDrawGrid::SetRowCount(int rows) { m_model->ChangeRowCount(std::max(rows, FixedRows() + 1) - FixedRows()); }

int TDrawGrid::ColCount() const { return m_model->m_columns; }

void TDrawGrid::SetColCount(int columns) { m_model->ChangeColumnCount(std::max(columns, 1)); }

void TDrawGrid::SetDefaultRowHeight(int height)
{
    m_defaultRowHeight = std::max(height, 0);
    verticalHeader()->setDefaultSectionSize(m_defaultRowHeight);
    m_header->setFixedHeight(m_defaultRowHeight);
    updateGeometries();
    InvalidateGrid();
}

void TDrawGrid::SetDefaultColWidth(int width)
{
    m_defaultColWidth = std::max(width, 0);
    m_header->setDefaultSectionSize(m_defaultColWidth);
    for (int column = 0; column < ColCount(); ++column)
        m_header->resizeSection(column, m_defaultColWidth);
}

int TDrawGrid::ColWidth(int column) const { return m_header->sectionSize(column); }

void TDrawGrid::SetColWidth(int column, int width)
{
    if (column >= 0 && column < ColCount())
        m_header->resizeSection(column, std::max(width, 0));
}

void TDrawGrid::SetColor(TColor color)
{
    m_color = color;
    ApplyColors();
    InvalidateGrid();
}

void TDrawGrid::SetFixedColor(TColor color)
{
    m_fixedColor = color;
    InvalidateGrid();
}

void TDrawGrid::SetCtl3D(bool on)
{
    m_ctl3D = on;
    InvalidateGrid();
}

void TDrawGrid::SetColumnSizing(bool on)
{
    m_columnSizing = on;
    m_header->setSectionResizeMode(on ? QHeaderView::Interactive : QHeaderView::Fixed);
}

void TDrawGrid::SetVerticalScrollBarAllowed(bool on)
{
    m_verticalScrollBar = on;
    setVerticalScrollBarPolicy(on ? Qt::ScrollBarAsNeeded : Qt::ScrollBarAlwaysOff);
}

void TDrawGrid::SetRowSelect(bool on)
{
    m_rowSelect = on;
    setSelectionMode(on ? QAbstractItemView::SingleSelection : QAbstractItemView::NoSelection);
}

int TDrawGrid::Row() const
{
    const QModelIndex current = currentIndex();
    return current.isValid() ? current.row() + FixedRows() : -1;
}

void TDrawGrid::SetRow(int row)
{
    const int dataRow = row - FixedRows();
    if (dataRow < 0 || dataRow >= m_model->m_dataRows) {
        selectionModel()->clear();
        return;
    }
    const int column = std::max(currentIndex().column(), 0);
    selectionModel()->setCurrentIndex(m_model->index(dataRow, column),
                                      QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

int TDrawGrid::TopRow() const { return verticalScrollBar()->value() + FixedRows(); }

void TDrawGrid::SetTopRow(int row) { verticalScrollBar()->setValue(std::max(row - FixedRows(), 0)); }

bool TDrawGrid::MouseToCell(const QPoint& point, int& column, int& row) const
{
    column = -1;
    row = -1;
    if (m_header->isVisible() && m_header->geometry().contains(point)) {
        const QPoint local = m_header->viewport()->mapFrom(this, point);
        const int logical = m_header->logicalIndexAt(local.x());
        if (logical < 0)
            return false;
        column = logical;
        row = 0;
        return true;
    }
    if (!viewport()->geometry().contains(point))
        return false;
    const QPoint local = viewport()->mapFrom(this, point);
    const int dataColumn = columnAt(local.x());
    const int dataRow = rowAt(local.y());
    if (dataColumn < 0 || dataRow < 0)
        return false;
    column = dataColumn;
    row = dataRow + FixedRows();
    return true;
}

QRect TDrawGrid::CellRect(int column, int row) const
{
    if (column < 0 || column >= ColCount() || row < 0 || row >= RowCount())
        return {};
    if (row == 0) {
        const QRect section(m_header->sectionViewportPosition(column), 0, m_header->sectionSize(column),
                            m_header->viewport()->height());
        return section.translated(m_header->viewport()->mapTo(this, QPoint(0, 0)));
    }
    const QRect cell = visualRect(m_model->index(row - FixedRows(), column));
    return cell.translated(viewport()->mapTo(this, QPoint(0, 0)));
}

void TDrawGrid::InvalidateCell(int column, int row)
{
    if (column < 0 || column >= ColCount() || row < 0 || row >= RowCount())
        return;
    if (row == 0) {
        emit m_model->headerDataChanged(Qt::Horizontal, column, column);
        m_header->viewport()->update();
        return;
    }
    const QModelIndex index = m_model->index(row - FixedRows(), column);
    emit m_model->dataChanged(index, index, {Qt::DisplayRole});
}

void TDrawGrid::InvalidateGrid()
{
    // One signal for all cells: the view repaints what is visible, however
    // many rows there are. No headerDataChanged here: it makes QHeaderView
    // lay itself out again, which on every alert cost more than the rest of
    // the update; the header is repainted below and its texts are read on demand.
    if (m_model->m_columns > 0) {
        if (m_model->m_dataRows > 0)
            emit m_model->dataChanged(m_model->index(0, 0),
                                      m_model->index(m_model->m_dataRows - 1, m_model->m_columns - 1),
                                      {Qt::DisplayRole});
    }
    m_header->viewport()->update();
    viewport()->update();
}

void TDrawGrid::PaintCell(QPainter* painter, int column, int row, const QRect& rect, TGridDrawState state)
{
    // DrawCell draws on Canvas(); during the call it is backed by the painter.
    TCanvas measuring = m_canvas;
    m_canvas = TCanvas(font(), painter, m_metrics);
    painter->save();
    GuardedCall([] { return QStringLiteral("TDrawGrid.PaintCell"); }, [&] { DrawCell(column, row, rect, state); });
    painter->restore();
    m_canvas = measuring;
}

QString TDrawGrid::CellText(int, int) const { return {}; }

void TDrawGrid::MouseUp(Qt::MouseButton, Qt::KeyboardModifiers, const QPoint&) {}

void TDrawGrid::FontChanged() {}

void TDrawGrid::SizeChanged() {}

void TDrawGrid::SelectCell(int, int) {}

void TDrawGrid::ForwardMouseUp(QMouseEvent* event, const QPoint& gridPoint)
{
    GuardedCall(QStringLiteral("TDrawGrid.MouseUp"), [&] { MouseUp(event->button(), event->modifiers(), gridPoint); });
}

void TDrawGrid::focusInEvent(QFocusEvent* event)
{
    // The item view's own focus-in makes the first row current when focus
    // comes by keyboard or window activation; with whole-row selection that
    // would link a symbol nobody picked. The current row stays as it was.
    QAbstractScrollArea::focusInEvent(event); // NOLINT(bugprone-parent-virtual-call): skips the item view's on purpose
    viewport()->update();
}

void TDrawGrid::mousePressEvent(QMouseEvent* event)
{
    // Only the left button selects; the right one is for the window's menu.
    if (event->button() == Qt::LeftButton)
        QTableView::mousePressEvent(event);
    else
        event->accept();
}

void TDrawGrid::mouseMoveEvent(QMouseEvent* event)
{
    // A drag with a button held would sweep the current row over every row
    // it crosses.
    if (event->buttons() == Qt::NoButton)
        QTableView::mouseMoveEvent(event);
}

void TDrawGrid::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        QTableView::mouseReleaseEvent(event);
    ForwardMouseUp(event, viewport()->mapTo(this, event->position().toPoint()));
}

void TDrawGrid::mouseDoubleClickEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton)
        QTableView::mouseDoubleClickEvent(event);
    else
        event->accept();
}

void TDrawGrid::keyPressEvent(QKeyEvent* event)
{
    const QModelIndex before = currentIndex();
    QTableView::keyPressEvent(event);
    // A grid without scroll bars is scrolled by the keyboard alone: the view
    // follows a row the keys made current. A mouse press never scrolls, so
    // a partly visible row does not move away under the pointer.
    const QModelIndex after = currentIndex();
    if (after.isValid() && after != before)
        scrollTo(after);
}

void TDrawGrid::keyboardSearch(const QString&)
{
    // No type-ahead: a typed letter must not pick a row, let alone link its symbol.
}

void TDrawGrid::changeEvent(QEvent* event)
{
    QTableView::changeEvent(event);
    if (event->type() != QEvent::FontChange)
        return;
    ApplyFont();
    GuardedCall(QStringLiteral("TDrawGrid.FontChanged"), [this] { FontChanged(); });
}

void TDrawGrid::resizeEvent(QResizeEvent* event)
{
    QTableView::resizeEvent(event);
    GuardedCall(QStringLiteral("TDrawGrid.SizeChanged"), [this] { SizeChanged(); });
}

void TDrawGrid::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QTableView::currentChanged(current, previous);
    if (!m_rowSelect || !current.isValid())
        return;
    GuardedCall(QStringLiteral("TDrawGrid.SelectCell"),
                [&] { SelectCell(current.column(), current.row() + FixedRows()); });
}

void TDrawGrid::ApplyColors()
{
    // The area past the last row and column shows the grid's background.
    QPalette palette = viewport()->palette();
    palette.setColor(QPalette::Base, ToQColor(m_color));
    palette.setColor(QPalette::Window, ToQColor(m_color));
    viewport()->setPalette(palette);
    viewport()->setAutoFillBackground(true);
}

void TDrawGrid::ApplyFont()
{
    if (!(m_metrics->Font() == font()))
        m_metrics = std::make_shared<TTextMetrics>(font());
    m_canvas = TCanvas(font(), nullptr, m_metrics);
}
