#pragma once
// P64: bytes as text of ASCII letters, digits, "_" and "-", none of which needs
// escaping in a URL-encoded form body. The bit layout is Base64's; there is
// never padding nor a line break. Only encoding is needed: the server decodes.
#include <QByteArray>

QByteArray P64Encode(const QByteArray& data);

// The number of characters P64Encode gives for that many bytes.
qsizetype P64EncodedLength(qsizetype byteCount);
