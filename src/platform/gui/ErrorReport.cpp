#include "platform/gui/ErrorReport.h"
#include <QApplication>
#include <QMessageBox>

QWidget* ShowErrorToUser(const QString& message)
{
    auto* box = new QMessageBox(QMessageBox::Critical, QApplication::applicationDisplayName(), message,
                                QMessageBox::Ok);
    box->setObjectName(QStringLiteral("ErrorReportBox"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->setModal(false);
    box->show();
    return box;
}

QWidget* ShowErrorToUser(const std::exception& e)
{
    return ShowErrorToUser(QString::fromLocal8Bit(e.what()));
}

void RunReportingErrors(const std::function<void()>& action)
{
    try {
        action();
    } catch (const std::exception& e) {
        ShowErrorToUser(e);
    } catch (...) {
        ShowErrorToUser(QObject::tr("An unknown error occurred."));
    }
}
