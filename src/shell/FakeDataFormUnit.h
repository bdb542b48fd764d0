#pragma once
// A test window that injects hand-written alerts into the path the server's
// alerts take, and holds the delay the main window waits before the
// price-spike sound. The start-up form is shown only when "Braxo.ini" asks
// for debugging; "Duplicate" opens copies.
#include <QWidget>

class QLineEdit;
class QPushButton;
class TMainConnection;

class TFakeDataForm : public QWidget {
    Q_OBJECT
public:
    // The start-up form: visible exactly when "debug" of section "General"
    // of the configuration file is "1". Its alerts (and its copies') go to
    // the connection's receivers.
    TFakeDataForm(TMainConnection& connection, const QString& configFile, QWidget* parent = nullptr);
    ~TFakeDataForm() override;

    // The delay field as an integer; empty or not a number gives 0.
    int SoundDelay() const;

    void SendButtonClick();
    // Opens a copy with the same subscription and data (not the delay) and
    // returns it; it is freed when closed.
    TFakeDataForm* DuplicateButtonClick();

    QLineEdit* SubscriptionEdit = nullptr;
    QLineEdit* DataEdit = nullptr;
    QPushButton* SendButton = nullptr;
    QPushButton* DuplicateButton = nullptr;
    QLineEdit* SoundDelayEdit = nullptr;

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    enum class TRole : quint8 { StartUp, Copy };
    TFakeDataForm(TRole role, TMainConnection& connection, QWidget* parent);
    void BuildForm();
    void FormCreate(const QString& configFile);

    // The start-up form only hides when closed: the main window keeps reading
    // its delay. Copies are freed.
    TRole m_role;
    TMainConnection& m_connection;
};
