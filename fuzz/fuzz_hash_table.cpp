// Drives the hash table with a sequence of operations and checks every answer
// against QHash as the model; iterators walk the whole table after each step.
#include "FuzzSupport.h"
#include "Shared/HashTables.h"
#include <QHash>
#include <cstdlib>

namespace {
void Check(bool ok)
{
    if (!ok)
        std::abort();
}

void CheckIteration(tHashTable& table, const QHash<QByteArray, QByteArray>& model)
{
    auto it = table.NewIterator();
    int seen = 0;
    while (it->IsValid()) {
        Check(model.value(it->Key(), "\x01") == it->Value());
        ++seen;
        it->Next();
    }
    Check(seen == model.size());
}
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    tHashTable table;
    QHash<QByteArray, QByteArray> model;
    size_t i = 0;
    auto take = [&](size_t n) {
        n = std::min(n, size - i);
        QByteArray b(reinterpret_cast<const char*>(data + i), qsizetype(n));
        i += n;
        return b;
    };
    while (i < size) {
        const uint8_t op = data[i++] % 6;
        const QByteArray key = take(i < size ? (data[i++] % 5) : 0);
        const QByteArray value = take(2);
        switch (op) {
        case 0:
        case 1:
            Check(table.Put(key, value) == !model.contains(key));
            model.insert(key, value);
            break;
        case 2:
            Check(table.Remove(key) == model.value(key));
            model.remove(key);
            break;
        case 3:
            Check(table.Lookup(key) == model.value(key));
            Check(table.ContainsKey(key) == model.contains(key));
            break;
        case 4: {
            auto it = table.NewIterator();
            if (it->IsValid()) {
                model.remove(it->Key());
                it->RemoveCurrent();
            }
            break;
        }
        case 5:
            if (value.size() == 2 && value[0] == 'C') {
                table.Clear();
                model.clear();
            }
            break;
        }
        Check(table.Count() == model.size());
    }
    CheckIteration(table, model);
    return 0;
}
