// The meeting journal as the desk reads it at start-up. An input that is no journal is read as it
// is; otherwise it is taken as a journal's body and given the header that matches it, so that
// the body's reading is reached past the checksum. A journal read is written and read again.

#include "Journal.h"
#include "JournalFile.h"

#include <QCryptographicHash>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // The first line of a journal, whatever version the desk writes now.
    static const QByteArray magic = [] {
        const QByteArray any = results::encodeJournal(results::MeetingJournal());
        return any.left(any.indexOf('\n') + 1);
    }();
    const QByteArray input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    QByteArray bytes = input;
    if (!input.startsWith(magic.left(magic.indexOf(' '))))
        bytes = magic + QByteArray::number(input.size()) + '\n'
                + QCryptographicHash::hash(input, QCryptographicHash::Sha256).toHex() + '\n' + input;
    if (const auto journal = results::decodeJournal(bytes)) {
        if (!results::decodeJournal(results::encodeJournal(*journal)))
            std::abort();
    }
    return 0;
}
