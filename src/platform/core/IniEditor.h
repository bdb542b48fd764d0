#pragma once
// Changes single keys of an INI file the trader also edits by hand, keeping
// every byte it is not asked to change: comments, unknown keys, the order of
// keys, each line's ending (CR LF, LF, mixed) and the encoding (8-bit or
// UTF-8 with or without a byte-order mark, UTF-16 or UTF-32 with one). Lines
// are read by the rules of TIniFile (ParseIniLine), so the key changed is
// the key read: the first of equal keys, also across a section named twice.
// Names and values are the 8-bit texts TIniFile gives. And a save that never
// leaves the file half-written.
#include "platform/core/IniFile.h"
#include <QByteArray>
#include <QString>
#include <QStringConverter>
#include <QStringList>
#include <optional>

class TIniEditor {
public:
    // The file's bytes as read. Bytes that do not survive decoding and
    // encoding unchanged (broken UTF-16, say) are kept but not edited:
    // Problem() says why, and every change is refused.
    explicit TIniEditor(const QByteArray& fileBytes);

    // Empty when the text can be edited, else why not, as a clause.
    const QString& Problem() const { return m_problem; }

    // Sets the value of the key, adding the key after the section's last key
    // (and the section at the end) when missing. Empty when done, else why
    // not: a name or value that would change other lines (a line break, a
    // "=" in a key, a "]" in a section name) is refused.
    QString SetValue(const QByteArray& section, const QByteArray& key, const QByteArray& value);

    // Removes every line of the key in the section, so that no later
    // duplicate takes the place of the one removed. False when none was there.
    bool RemoveKey(const QByteArray& section, const QByteArray& key);

    // The whole text in the file's encoding.
    QByteArray Bytes() const;

private:
    struct TFoundKey {
        qsizetype Line = -1;             // the winning line of the key, or -1
        qsizetype LastKeyOfSection = -1; // where a new key goes, or -1
    };
    TFoundKey Find(const QByteArray& section, const QByteArray& key) const;
    TIniLine Parsed(qsizetype line) const;
    QString Text(const QByteArray& eightBit) const;
    QString LineEnding(qsizetype after) const;

    std::optional<QStringConverter::Encoding> m_encoding; // none: 8-bit, held as Latin-1
    QByteArray m_prefix;                                  // an 8-bit file's UTF-8 mark
    QStringList m_lines;                                  // each with its own line break
    QString m_problem;
};

// How a save ended. NotWritable: the trader may not change the file (or its
// folder); a per-user copy (UserConfigFile()) is the way out.
enum class TSaveOutcome { Saved, NotWritable, Failed };
struct TSaveResult {
    TSaveOutcome Outcome = TSaveOutcome::Failed;
    QString Why; // a sentence naming the file; empty when saved
};

// Writes the bytes to a new file in the same folder (with the mode of the
// file it replaces, 0600 for a new one), syncs it and renames it over the
// file: a reader sees the old file or the new one, whole, never a part.
TSaveResult SaveFileReplacing(const QString& path, const QByteArray& bytes);
