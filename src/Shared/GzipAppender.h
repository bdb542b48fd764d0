#pragma once
// Appends one gzip member to a file, written out piece by piece: each Write
// compresses its bytes and ends them with a sync flush, so that everything
// written so far can be read back even if the member is never finished.
// Close finishes the member. Compression is ISA-L's igzip at level 1, which
// costs a third of zlib's fastest level for alert text; what it writes is
// plain gzip that zlib, zcat and every gzip reader read.
#include <QByteArray>
#include <QString>
#include <memory>

class TGzipAppender {
public:
    TGzipAppender();
    ~TGzipAppender();
    TGzipAppender(const TGzipAppender&) = delete;
    TGzipAppender& operator=(const TGzipAppender&) = delete;

    // Takes over a file opened for appending (platform/core/PrivateFiles.h),
    // closing any it had.
    void Adopt(int fd);
    int Descriptor() const { return m_fd; }
    // The member's header goes out with the first bytes written.
    bool Write(const QByteArray& bytes);
    // Ends the member (if one was begun) and closes the file.
    bool Close();
    // Closes the file as it is, after a failed write: an ended member whose
    // middle is missing would read as damaged, one cut short reads fine.
    void Abandon();
    bool IsOpen() const;
    // The last failure, in the system's words.
    const QString& Error() const { return m_error; }

private:
    bool Compress(const char* data, qsizetype size, bool last);
    bool WriteOut(const char* data, qsizetype size);

    struct Stream;
    std::unique_ptr<Stream> m_stream;
    int m_fd = -1;
    bool m_begun = false;
    QString m_error;
};
