#include "shell/VantorExcludeFormUnit.h"

#include "Zembra/ExcludeList.h"

#include <QFont>
#include <QGuiApplication>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

TVantorExcludeForm::TVantorExcludeForm(TSymbolSet& excludeList, QWidget* parent)
    : QDialog(parent), m_excludeList(excludeList)
{
    setWindowTitle(QStringLiteral("Vantor Exclude"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    resize(181, 335);

    SymbolsMemo = new QPlainTextEdit(this);
    SymbolsMemo->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    SymbolsMemo->setLineWrapMode(QPlainTextEdit::NoWrap);

    OKButton = new QPushButton(QStringLiteral("Update"), this);
    OKButton->setDefault(true);
    OKButton->setAutoDefault(true);
    CancelButton = new QPushButton(QStringLiteral("Cancel"), this);
    CancelButton->setAutoDefault(false);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
    // QDialog maps Escape to reject(), which is what Cancel does.
    connect(CancelButton, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(OKButton);
    buttons->addWidget(CancelButton);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(SymbolsMemo, 1);
    layout->addLayout(buttons);

    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(), size());
        frame.moveCenter(screen->availableGeometry().center());
        move(frame.topLeft());
    }
}

QList<QByteArray> TVantorExcludeForm::MemoLines() const
{
    const QString text = SymbolsMemo->toPlainText();
    QList<QByteArray> lines;
    if (text.isEmpty())
        return lines;
    for (const QString& line : text.split(QLatin1Char('\n')))
        lines.append(line.toUtf8());
    // A final line break ends the last line; it does not start another.
    if (text.endsWith(QLatin1Char('\n')))
        lines.removeLast();
    return lines;
}

void TVantorExcludeForm::SetMemoLines(const QList<QByteArray>& lines)
{
    QStringList texts;
    for (const QByteArray& line : lines)
        texts.append(QString::fromUtf8(line));
    SymbolsMemo->setPlainText(texts.join(QLatin1Char('\n')));
}

void TVantorExcludeForm::EditExcludeList()
{
    if (exec() == QDialog::Accepted)
        ReplaceExcludeList(m_excludeList, MemoLines());
    SetMemoLines(m_excludeList.Items());
}
