#pragma once
// Makes an alert recording ready for a recorder to append to, a step at a
// time, so that a large file (or a few kilobytes of gzip that inflate to
// gigabytes) never holds up the event loop: reads it through to learn how it
// ends, and rewrites one that a crash left cut short with its complete
// lines, since a reader could not read past a gzip member cut short in the
// middle of a file. A file that is not a recording, or whose compressed data
// is damaged, is refused and left as it is.
//
// The file comes open and locked (platform/core/PrivateFiles.h). The
// rewritten copy is locked before it takes the file's place, so no second
// recorder slips in between, and the writer handed over keeps that lock.
#include "Shared/AlertRecording.h"
#include <QByteArray>
#include <QString>
#include <memory>

class TGzipAppender;

class TRecordingRepair {
public:
    enum class TOutcome { Pending, Ready, Refused };

    // Takes over Fd: the recording at Path, opened for appending and locked.
    TRecordingRepair(QString path, int fd);
    ~TRecordingRepair();
    TRecordingRepair(const TRecordingRepair&) = delete;
    TRecordingRepair& operator=(const TRecordingRepair&) = delete;

    // One step of the work, as bounded as a step of the reader.
    TOutcome Step();
    TOutcome Outcome() const { return m_outcome; }
    // Text inflated so far, in bytes: what the steps cost.
    qint64 InflatedBytes() const { return m_reader.InflatedBytes(); }
    // Once Ready: the writer that appends to the file, holding its lock.
    std::unique_ptr<TGzipAppender> TakeWriter();
    // Once Refused: why, in a sentence. Once Ready after a rewrite: what was
    // kept and what could not be.
    const QString& Report() const { return m_report; }
    bool Repaired() const { return m_repaired; }

private:
    TOutcome Check();
    TOutcome BeginCopy();
    TOutcome Copy();
    TOutcome FinishCopy();
    TOutcome CopyFailed(const QString& error);
    TOutcome Ready();
    TOutcome Refuse(const QString& text);
    QString WhatWasKept() const;

    const QString m_path;
    const QString m_copyPath;
    int m_original = -1;
    TAlertRecordingReader m_reader;
    std::unique_ptr<TGzipAppender> m_writer;
    bool m_copying = false;
    bool m_repaired = false;
    qint64 m_keptLines = 0;
    QByteArray m_chunk;
    TOutcome m_outcome = TOutcome::Pending;
    QString m_report;
};
