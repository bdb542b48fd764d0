#include "platform/gui/ErrorReport.h"
#include <QApplication>
#include <QMessageBox>
#include <algorithm>

namespace {

QWidget* ShowMessageBox(QMessageBox::Icon icon, const QString& message)
{
    auto* box = new QMessageBox(icon, QApplication::applicationDisplayName(), QString(), QMessageBox::Ok);
    box->setObjectName(QStringLiteral("ErrorReportBox"));
    box->setTextFormat(Qt::PlainText);
    box->setText(CutForDisplay(message));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    return box;
}

} // namespace

QString CutForDisplay(const QString& text, qsizetype maxChars)
{
    const QString ellipsis = QStringLiteral("...");
    if (text.size() <= maxChars)
        return text;
    qsizetype keep = std::max<qsizetype>(maxChars - ellipsis.size(), 0);
    // Never half a character.
    if (keep > 0 && text.at(keep - 1).isHighSurrogate())
        --keep;
    return text.left(keep) + ellipsis;
}

QWidget* ShowErrorToUser(const QString& message) { return ShowMessageBox(QMessageBox::Critical, message); }

QWidget* ShowErrorToUser(const std::exception& e)
{
    return ShowErrorToUser(QString::fromLocal8Bit(e.what()));
}

QWidget* ShowWarningToUser(const QString& message) { return ShowMessageBox(QMessageBox::Warning, message); }

void RunReportingErrors(const std::function<void()>& action)
{
    RunReportingErrors(
        action, [](const QString& message) { ShowErrorToUser(message); }, QObject::tr("An unknown error occurred."));
}

void RunReportingErrors(const std::function<void()>& action, const std::function<void(const QString&)>& show,
                        const QString& unknown)
{
    try {
        action();
    } catch (const std::exception& e) {
        show(QString::fromLocal8Bit(e.what()));
    } catch (...) {
        show(unknown);
    }
}
