#pragma once
// The application's top-level error report: an error that no handler below
// expected is shown to the user in a message box. The box is not modal, so
// reporting never runs a nested event loop and is safe from any handler.
//
// A message may carry a symbol or words from the server. Boxes show it as
// plain text, cut to a sane length: a box titled with the program's name
// must never turn such text into a link, markup or pages of characters.
#include <QString>
#include <exception>
#include <functional>

class QWidget;

// The most characters a message box shows.
inline constexpr qsizetype MaxShownMessageChars = 600;

// The text unchanged when it has at most maxChars characters, else its head
// followed by "..." in maxChars characters all told.
QString CutForDisplay(const QString& text, qsizetype maxChars = MaxShownMessageChars);

// Shows the message; returns the box (deleted when the user closes it).
QWidget* ShowErrorToUser(const QString& message);
QWidget* ShowErrorToUser(const std::exception& e);
// The same as a warning: something the user asked for did not happen.
QWidget* ShowWarningToUser(const QString& message);

// Runs the action; an error it raises is shown to the user instead of
// leaving the Qt handler that runs it.
void RunReportingErrors(const std::function<void()>& action);
// The same, with the error's text handed to `show`; `unknown` stands for the
// text of an error that carries none.
void RunReportingErrors(const std::function<void()>& action, const std::function<void(const QString&)>& show,
                        const QString& unknown);
