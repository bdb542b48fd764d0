#pragma once
// The "Vantor Exclude" dialog: one symbol per line, edited against the
// exclude list that strike windows read for every alert.
#include <QByteArray>
#include <QDialog>
#include <QList>

class QPlainTextEdit;
class QPushButton;
class TSymbolSet;

class TVantorExcludeForm : public QDialog {
    Q_OBJECT
public:
    // Edits `excludeList`, which outlives the dialog.
    explicit TVantorExcludeForm(TSymbolSet& excludeList, QWidget* parent = nullptr);

    // Shows the dialog modally. "Update" replaces the exclude list with the
    // memo's non-empty lines; either way the memo then shows the list as it
    // stands, so Cancel throws the edits away.
    void EditExcludeList();

    // The memo's lines, unchanged (no trimming).
    QList<QByteArray> MemoLines() const;
    void SetMemoLines(const QList<QByteArray>& lines);

    QPlainTextEdit* SymbolsMemo;
    QPushButton* OKButton;
    QPushButton* CancelButton;

private:
    TSymbolSet& m_excludeList;
};
