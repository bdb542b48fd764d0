#include "shell/WindowPlacement.h"
#include "platform/core/SettingsStore.h"
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <limits>
#include <optional>

namespace {

// The screen holding the largest part of the frame, else the nearest one.
QScreen* ScreenOf(const QRect& frame)
{
    QScreen* best = nullptr;
    qint64 bestArea = 0;
    qint64 bestDistance = std::numeric_limits<qint64>::max();
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect common = screen->geometry().intersected(frame);
        const qint64 area = common.isEmpty() ? 0 : qint64(common.width()) * common.height();
        const QPoint offset = screen->geometry().center() - frame.center();
        const qint64 distance = qint64(offset.x()) * offset.x() + qint64(offset.y()) * offset.y();
        if (area > bestArea || (bestArea == 0 && area == 0 && distance < bestDistance)) {
            best = screen;
            bestArea = area;
            bestDistance = distance;
        }
    }
    return best ? best : QGuiApplication::primaryScreen();
}

// One axis of the monitor rule: past the far edge moves back inside; a start
// before the near edge (as it was before that correction) wins. In 64 bits:
// an edge near the integer limits must not wrap round.
int FitAxis(qint64 start, qint64 length, qint64 monitorStart, qint64 monitorLength)
{
    qint64 fitted = start;
    if (start + length > monitorStart + monitorLength)
        fitted = monitorStart + monitorLength - length;
    if (start < monitorStart)
        fitted = monitorStart;
    return static_cast<int>(
        std::clamp<qint64>(fitted, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

// Kept to what a window can have, so that no edge computed from a stored
// value overflows.
int StoredCoordinate(int value) { return std::clamp(value, -QWIDGETSIZE_MAX, QWIDGETSIZE_MAX); }
int StoredLength(int value) { return std::clamp(value, 0, QWIDGETSIZE_MAX); }

// The "State" values.
enum TStoredState : int { StoredNormal = 0, StoredMinimised = 1, StoredMaximised = 2 };

int StoredStateOf(const QWidget& window)
{
    return window.isMinimized() ? StoredMinimised : (window.isMaximized() ? StoredMaximised : StoredNormal);
}

void ApplyStoredState(QWidget* window, int state)
{
    const Qt::WindowStates others = window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    window->setWindowState(state == StoredMinimised   ? others | Qt::WindowMinimized
                           : state == StoredMaximised ? others | Qt::WindowMaximized
                                                      : others);
}

// Room for what a window manager adds around the client area: the title bar
// above it, thin borders elsewhere. Before a window is shown its frame is
// not known.
constexpr QMargins FrameAllowance(4, 30, 4, 4);
constexpr int LayoutGap = 6;

QRect FrameOf(const QWidget& window)
{
    return window.isVisible() ? window.frameGeometry() : window.geometry().marginsAdded(FrameAllowance);
}

// Columns that fit side by side, and how far apart the rows must be to fit
// the area's height (never further than a window and a gap).
struct TGrid {
    QRect Area;
    int Columns = 1;
    int RowStep = 0;
};

TGrid GridIn(const QRect& area, const QSize& frame, int count)
{
    TGrid grid{area, std::clamp((area.width() + LayoutGap) / (frame.width() + LayoutGap), 1, count), 0};
    const int rows = (count + grid.Columns - 1) / grid.Columns;
    const int spare = std::max(0, area.height() - frame.height());
    grid.RowStep = rows > 1 ? std::min(frame.height() + LayoutGap, spare / (rows - 1)) : frame.height() + LayoutGap;
    return grid;
}

// The parts of the work area right of, below, left of and above the window
// to avoid, each as wide or tall as the work area allows.
QList<QRect> AreasAround(const QRect& work, const QRect& avoid)
{
    const QRect kept = avoid.marginsAdded(QMargins(LayoutGap, LayoutGap, LayoutGap, LayoutGap));
    return {QRect(QPoint(kept.right() + 1, work.top()), work.bottomRight()).intersected(work),
            QRect(QPoint(work.left(), kept.bottom() + 1), work.bottomRight()).intersected(work),
            QRect(work.topLeft(), QPoint(kept.left() - 1, work.bottom())).intersected(work),
            QRect(work.topLeft(), QPoint(work.right(), kept.top() - 1)).intersected(work)};
}

} // namespace

QList<QRect> LayOutClearOf(int count, const QSize& frameSize, const QRect& workArea, const QRect& avoid)
{
    if (count <= 0)
        return {};
    // The area where each window shows most of itself; the whole work area
    // when none beside the main window holds even one window.
    std::optional<TGrid> best;
    for (const QRect& area : AreasAround(workArea, avoid)) {
        if (area.width() < frameSize.width() || area.height() < frameSize.height())
            continue;
        const TGrid grid = GridIn(area, frameSize, count);
        if (!best || grid.RowStep > best->RowStep)
            best = grid;
    }
    const TGrid grid = best ? *best : GridIn(workArea, frameSize, count);
    QList<QRect> frames;
    for (int i = 0; i < count; ++i)
        frames.append(QRect(grid.Area.topLeft() + QPoint((i % grid.Columns) * (frameSize.width() + LayoutGap),
                                                         (i / grid.Columns) * grid.RowStep),
                            frameSize));
    return frames;
}

QRect FitOnMonitor(const QRect& frame, const QRect& monitor)
{
    const int left = FitAxis(frame.left(), frame.width(), monitor.left(), monitor.width());
    const int top = FitAxis(frame.top(), frame.height(), monitor.top(), monitor.height());
    return QRect(QPoint(left, top), frame.size());
}

void MoveOntoMonitor(QWidget* window)
{
    const QRect frame = window->frameGeometry();
    const QScreen* screen = ScreenOf(frame);
    if (!screen)
        return;
    const QRect fitted = FitOnMonitor(frame, screen->geometry());
    if (fitted.topLeft() != frame.topLeft())
        window->move(fitted.topLeft());
}

void RestoreWindowPosition(const TSettingsStore& settings, const QString& section, QWidget* window)
{
    window->move(StoredCoordinate(settings.ReadInteger(section, QStringLiteral("Left"), window->x())),
                 StoredCoordinate(settings.ReadInteger(section, QStringLiteral("Top"), window->y())));
    MoveOntoMonitor(window);
}

void SaveWindowPosition(TSettingsStore& settings, const QString& section, const QWidget& window)
{
    settings.WriteInteger(section, QStringLiteral("Left"), window.x());
    settings.WriteInteger(section, QStringLiteral("Top"), window.y());
}

void RestoreWindowPlacement(const TSettingsStore& settings, const QString& section, QWidget* window)
{
    const QRect current = window->geometry();
    const int width = StoredLength(settings.ReadInteger(section, QStringLiteral("Width"), current.width()));
    const int height = StoredLength(settings.ReadInteger(section, QStringLiteral("Height"), current.height()));
    const int left = StoredCoordinate(settings.ReadInteger(section, QStringLiteral("Left"), current.left()));
    const int top = StoredCoordinate(settings.ReadInteger(section, QStringLiteral("Top"), current.top()));
    // A window with no stored placement opens visible: a configured window
    // that stays hidden until found in the list looks like a window that was
    // never created.
    const bool visible = settings.ReadBool(section, QStringLiteral("Visible"), true);
    const int state = settings.ReadInteger(section, QStringLiteral("State"), StoredStateOf(*window));
    // The normal bounds first, so that a minimised or maximised window
    // returns to them when restored.
    window->setGeometry(left, top, width, height);
    MoveOntoMonitor(window);
    window->setVisible(visible);
    ApplyStoredState(window, state);
}

void SaveWindowPlacement(TSettingsStore& settings, const QString& section, const QWidget& window)
{
    // The bounds the window returns to when restored.
    QRect normal = window.normalGeometry();
    if (!normal.isValid())
        normal = window.geometry();
    settings.WriteInteger(section, QStringLiteral("Width"), normal.width());
    settings.WriteInteger(section, QStringLiteral("Height"), normal.height());
    settings.WriteInteger(section, QStringLiteral("Left"), normal.left());
    settings.WriteInteger(section, QStringLiteral("Top"), normal.top());
    settings.WriteInteger(section, QStringLiteral("State"), StoredStateOf(window));
    settings.WriteBool(section, QStringLiteral("Visible"), window.isVisible());
}

void RestoreWindowPlacements(const TSettingsStore& settings, const QList<QPair<QString, QWidget*>>& windows,
                             const QWidget& mainWindow)
{
    QList<QWidget*> unplaced;
    QSize frameSize;
    for (const auto& [section, window] : windows)
        if (!settings.ValueExists(section, QStringLiteral("Left")) && !settings.ValueExists(section, QStringLiteral("Top"))) {
            unplaced.append(window);
            frameSize = frameSize.expandedTo(window->geometry().marginsAdded(FrameAllowance).size());
        }
    const QRect avoid = FrameOf(mainWindow);
    const QScreen* screen = ScreenOf(avoid);
    if (screen) {
        const QList<QRect> frames = LayOutClearOf(int(unplaced.size()), frameSize, screen->availableGeometry(), avoid);
        for (qsizetype i = 0; i < unplaced.size(); ++i)
            unplaced[i]->setGeometry(QRect(frames[i].marginsRemoved(FrameAllowance).topLeft(), unplaced[i]->size()));
    }
    for (const auto& [section, window] : windows)
        RestoreWindowPlacement(settings, section, window);
}
