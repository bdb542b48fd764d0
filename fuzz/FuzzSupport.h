#pragma once
// Shared set-up of the fuzz targets: one application object for the process,
// a debug sink that keeps the log quiet (a fuzz run logs thousands of lines),
// and the check that stops the run with the broken rule's text.
#include "PercentDecoding.h"
#include <QByteArray>
#include <QList>
#include <cstddef>
#include <cstdint>

namespace FuzzSupport {
// A QCoreApplication for the whole run: no target needs widgets.
void EnsureApplication();
inline QByteArray Bytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}
// Splits the input into pieces at the byte pair 0xFF 0xFE, so one input can
// carry several reads or several texts.
QList<QByteArray> Pieces(const uint8_t* data, size_t size);
// The byte pair Pieces splits at.
inline constexpr char PieceSeparator[] = "\xFF\xFE";

// The harness's own percent-decoding, written from the rules.
using PercentDecoding::HexDigit;
using PercentDecoding::PercentDecoded;

[[noreturn]] void Fail(const char* rule, const char* file, int line);
} // namespace FuzzSupport

#define FUZZ_CHECK(rule) ((rule) ? void(0) : ::FuzzSupport::Fail(#rule, __FILE__, __LINE__))
