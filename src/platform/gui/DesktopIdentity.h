#pragma once
// How the desktop knows the client: one reverse-DNS id names its desktop
// entry, its icon and its AppStream file, and every window carries the icon.
#include <QIcon>

inline constexpr char ApplicationId[] = "com.velmora.TaviskAlerts";

// The application's icon, from the program's own resources (so a build that
// is not installed has it too), in the sizes a window manager asks for.
QIcon ApplicationIcon();
