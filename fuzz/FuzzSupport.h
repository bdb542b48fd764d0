#pragma once
// Shared set-up of the fuzz targets: one QCoreApplication for the process and
// a debug sink that keeps the log quiet (a fuzz run logs thousands of lines).
#include <QByteArray>
#include <cstddef>
#include <cstdint>

namespace FuzzSupport {
void EnsureApplication();
inline QByteArray Bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}
// Splits the input into pieces at the byte 0xFF 0xFE, so one input can carry
// several reads or several texts.
QList<QByteArray> Pieces(const uint8_t* data, size_t size);
}
