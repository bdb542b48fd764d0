#include "shell/FakeDataFormUnit.h"
#include "Zembra/MainConnectionUnit.h"
#include "platform/core/IniFile.h"
#include "platform/gui/ErrorReport.h"
#include <QCloseEvent>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <vector>

namespace {
// Copies still open; the start-up form frees them when it goes, so none
// outlives the program's forms.
std::vector<QPointer<TFakeDataForm>>& OpenCopies()
{
    static std::vector<QPointer<TFakeDataForm>> copies;
    return copies;
}
} // namespace

TFakeDataForm::TFakeDataForm(TMainConnection& connection, const QString& configFile, QWidget* parent)
    : TFakeDataForm(TRole::StartUp, connection, parent)
{
    FormCreate(configFile);
}

TFakeDataForm::TFakeDataForm(TRole role, TMainConnection& connection, QWidget* parent)
    : QWidget(parent, Qt::Window), m_role(role), m_connection(connection)
{
    BuildForm();
    if (m_role == TRole::Copy)
        setAttribute(Qt::WA_DeleteOnClose);
}

TFakeDataForm::~TFakeDataForm()
{
    if (m_role != TRole::StartUp)
        return;
    auto copies = std::move(OpenCopies());
    OpenCopies().clear();
    for (const auto& copy : copies)
        delete copy.data();
}

void TFakeDataForm::BuildForm()
{
    setWindowTitle(QStringLiteral("Fake Data"));
    resize(297, 192);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 8, 8, 8);

    auto* label1 = new QLabel(QStringLiteral("Subscription:"), this);
    SubscriptionEdit = new QLineEdit(this);
    label1->setBuddy(SubscriptionEdit);
    auto* label2 = new QLabel(QStringLiteral("Data:"), this);
    DataEdit = new QLineEdit(this);
    label2->setBuddy(DataEdit);
    SendButton = new QPushButton(QStringLiteral("Send"), this);
    SendButton->setDefault(true);
    DuplicateButton = new QPushButton(QStringLiteral("Duplicate"), this);
    auto* label3 = new QLabel(QStringLiteral("Price Spike audible alert delay (milliseconds):"), this);
    SoundDelayEdit = new QLineEdit(this);
    label3->setBuddy(SoundDelayEdit);

    grid->addWidget(label1, 0, 0, 1, 3);
    grid->addWidget(SubscriptionEdit, 1, 0, 1, 3);
    grid->addWidget(label2, 2, 0, 1, 3);
    grid->addWidget(DataEdit, 3, 0, 1, 3);
    grid->addWidget(SendButton, 4, 0);
    grid->addWidget(DuplicateButton, 4, 1);
    grid->addWidget(label3, 5, 0, 1, 3);
    grid->addWidget(SoundDelayEdit, 6, 0, 1, 2);
    grid->setColumnStretch(2, 1);
    grid->setRowStretch(7, 1);

    connect(SendButton, &QPushButton::clicked, this, [this] { RunReportingErrors([this] { SendButtonClick(); }); });
    connect(DuplicateButton, &QPushButton::clicked, this, [this] { DuplicateButtonClick(); });
    // Send is the default button: Enter in any field presses it.
    for (QLineEdit* edit : {SubscriptionEdit, DataEdit, SoundDelayEdit})
        connect(edit, &QLineEdit::returnPressed, SendButton, &QPushButton::click);
}

void TFakeDataForm::FormCreate(const QString& configFile)
{
    const TIniFile ini(configFile);
    setVisible(ini.ReadString("General", "debug", "0") == "1");
}

int TFakeDataForm::SoundDelay() const
{
    bool ok = false;
    const int delay = SoundDelayEdit->text().trimmed().toInt(&ok, 10);
    return ok ? delay : 0;
}

void TFakeDataForm::SendButtonClick()
{
    const QByteArray alert = SubscriptionEdit->text().toLocal8Bit() + "\r\n" + DataEdit->text().toLocal8Bit();
    m_connection.DeliverAlerts(true, alert, TMessageToServer());
}

TFakeDataForm* TFakeDataForm::DuplicateButtonClick()
{
    auto* copy = new TFakeDataForm(TRole::Copy, m_connection, nullptr);
    std::erase_if(OpenCopies(), [](const QPointer<TFakeDataForm>& open) { return open.isNull(); });
    OpenCopies().emplace_back(copy);
    copy->SubscriptionEdit->setText(SubscriptionEdit->text());
    copy->DataEdit->setText(DataEdit->text());
    copy->show();
    return copy;
}

void TFakeDataForm::closeEvent(QCloseEvent* event)
{
    if (m_role == TRole::StartUp) {
        event->ignore();
        hide();
        return;
    }
    QWidget::closeEvent(event);
}
