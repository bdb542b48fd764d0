#pragma once
// Where windows go: placements stored in the per-user settings are read back
// onto the monitor they fit, and saved again when the program ends. Stored
// values come from a file anything may have edited, so every edge computed
// from them is kept clear of the integer limits.
#include <QList>
#include <QPair>
#include <QRect>
#include <QString>

class QWidget;
class TSettingsStore;

// Moves a window so that it lies fully on its monitor, keeping its size.
void MoveOntoMonitor(QWidget* window);
// The same rule on rectangles: where the window's frame goes. Past the far
// edge moves back inside; a start before the near edge wins.
QRect FitOnMonitor(const QRect& frame, const QRect& monitor);

// The main window keeps only its position ("Left", "Top" of the section).
void RestoreWindowPosition(const TSettingsStore& settings, const QString& section, QWidget* window);
void SaveWindowPosition(TSettingsStore& settings, const QString& section, const QWidget& window);

// An alert window keeps its whole placement: the bounds it returns to when
// restored ("Left", "Top", "Width", "Height"), "State" (0 normal, 1
// minimised, 2 maximised) and "Visible". Values not stored keep the window's
// own; a window with nothing stored opens visible.
void RestoreWindowPlacement(const TSettingsStore& settings, const QString& section, QWidget* window);
void SaveWindowPlacement(TSettingsStore& settings, const QString& section, const QWidget& window);

// Frames for Count windows of FrameSize that have no placement of their own:
// side by side in columns inside WorkArea and clear of Avoid (the main
// window) where the work area has room for one; rows overlap when the area
// is too short, each window keeping its top (title bar and newest rows) in
// view. Placed one on another they would hide all but the last.
QList<QRect> LayOutClearOf(int count, const QSize& frameSize, const QRect& workArea, const QRect& avoid);

// Restores the placement of each (section, window); the windows whose
// section holds no position keep their size and are laid out as above in the
// work area of the main window's monitor, before the stored values they do
// have are applied.
void RestoreWindowPlacements(const TSettingsStore& settings, const QList<QPair<QString, QWidget*>>& windows,
                             const QWidget& mainWindow);
