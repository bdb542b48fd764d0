#pragma once
// A short text held inside the record that owns it: a row's time of day is a
// few bytes and differs from one alert to the next, so a heap block per row
// (allocated with the row, freed when the row scrolls out) would cost more
// than everything else the row needs. Longer texts, which the server may
// send all the same, go to a QByteArray; the value is the same either way.
#include <QByteArray>
#include <QByteArrayView>
#include <cstring>

class TShortText {
public:
    static constexpr qsizetype InlineCapacity = 22;

    TShortText() = default;
    TShortText(QByteArrayView text) { Assign(text); }
    TShortText(const char* text) { Assign(QByteArrayView(text)); }
    TShortText(const QByteArray& text) { Assign(QByteArrayView(text)); }

    QByteArrayView View() const
    {
        return m_size >= 0 ? QByteArrayView(m_inline, m_size) : QByteArrayView(m_long);
    }
    QByteArray ToByteArray() const { return View().toByteArray(); }
    qsizetype size() const { return View().size(); }
    bool isEmpty() const { return size() == 0; }

    friend bool operator==(const TShortText& a, const TShortText& b) { return a.View() == b.View(); }

private:
    void Assign(QByteArrayView text)
    {
        if (text.size() <= InlineCapacity) {
            m_size = qint8(text.size());
            if (m_size > 0)
                std::memcpy(m_inline, text.data(), size_t(m_size));
        } else {
            m_size = -1;
            m_long = text.toByteArray();
        }
    }

    char m_inline[InlineCapacity];
    qint8 m_size = 0; // -1: the text is in m_long
    QByteArray m_long;
};
