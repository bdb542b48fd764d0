#pragma once
// The application's top-level error report: an error that no handler below
// expected is shown to the user in a message box. The box is not modal, so
// reporting never runs a nested event loop and is safe from any handler.
#include <QString>
#include <exception>
#include <functional>

class QWidget;

// Shows the message; returns the box (deleted when the user closes it).
QWidget* ShowErrorToUser(const QString& message);
QWidget* ShowErrorToUser(const std::exception& e);

// Runs the action; an error it raises is shown to the user instead of
// leaving the Qt handler that runs it.
void RunReportingErrors(const std::function<void()>& action);
