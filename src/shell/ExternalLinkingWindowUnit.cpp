#include "shell/ExternalLinkingWindowUnit.h"
#include "platform/gui/Connector.h"
#include <QCloseEvent>
#include <QVBoxLayout>

TExternalLinkingWindow::TExternalLinkingWindow(TSymbolLinks& links, QWidget* parent)
    : TExternalLinkingWindow(std::make_unique<TBuiltInConnector>(links), parent)
{
}

TExternalLinkingWindow::TExternalLinkingWindow(std::unique_ptr<TConnector> connector, QWidget* parent)
    : QWidget(parent, Qt::Window), m_connector(std::move(connector))
{
    FormCreate();
}

TExternalLinkingWindow::~TExternalLinkingWindow()
{
    // The connector's view is a child widget: take it out of Qt's hands so
    // that the connector is destroyed exactly once, by its owner here.
    if (m_connector && m_connector->View())
        m_connector->View()->setParent(nullptr);
    m_connector.reset();
}

void TExternalLinkingWindow::FormCreate()
{
    setObjectName(QStringLiteral("ExternalLinkingWindow"));
    setWindowTitle(QStringLiteral("External Linking Window"));
    resize(443, 440);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    if (m_connector && m_connector->View())
        layout->addWidget(m_connector->View());
}

void TExternalLinkingWindow::ShowLinkingWindow()
{
    if (windowState() & Qt::WindowMinimized)
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

void TExternalLinkingWindow::LinkSymbol(const QByteArray& symbol)
{
    if (!m_connector)
        return;
    // The alert texts are 8-bit; the connector takes Unicode, converted
    // through the system code page.
    m_connector->SetSymbol(QString::fromLocal8Bit(symbol));
    m_connector->ApplySymbol();
    if (m_connector->LinkState() == 0)
        ShowLinkingWindow();
}

void TExternalLinkingWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    hide();
}
