#pragma once
// The window that hosts the external-linking connector and forwards the
// symbols the alert windows hand it. One per process; closing it only hides it.
#include <QByteArray>
#include <QWidget>
#include <memory>

class TConnector;
class TSymbolLinks;

class TExternalLinkingWindow : public QWidget {
    Q_OBJECT
public:
    // Hosts the built-in connector, which reports to `links` a failure
    // nobody waits for.
    explicit TExternalLinkingWindow(TSymbolLinks& links, QWidget* parent = nullptr);
    // Hosts the given connector; null means none could be created, and then
    // LinkSymbol does nothing.
    TExternalLinkingWindow(std::unique_ptr<TConnector> connector, QWidget* parent = nullptr);
    ~TExternalLinkingWindow() override;

    // Shows the window, restoring it first when it is minimised.
    void ShowLinkingWindow();
    // Sets the symbol on the connector, applies it, and shows the window when
    // the connector has no link set up. A connector failure is raised
    // (EConnectorError) and the window is then left as it was.
    void LinkSymbol(const QByteArray& symbol);

    TConnector* Connector() const { return m_connector.get(); }

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void FormCreate();

    std::unique_ptr<TConnector> m_connector;
};
