// zielkron-workbook-reader: reads one workbook for the desk, in a process of its own, and writes
// the first sheet's cells (or the error) to its standard output in the framed form the desk checks.
//
//   zielkron-workbook-reader read|write MAX-UNPACKED-BYTES FILE
//
// The desk starts it with limits of memory and processor time; whatever the file does to this
// process, the desk only sees it end.

#include "WorkbookParts.h"

#include <sys/prctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#ifdef ZK_READER_TEST_HOOKS
#include <QFile>
#include <vector>
#endif

namespace {

bool writeAll(const QByteArray &bytes)
{
    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(STDOUT_FILENO, p, static_cast<std::size_t>(left));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        p += n;
        left -= n;
    }
    return true;
}

#ifdef ZK_READER_TEST_HOOKS
// Files that make this reader misbehave on purpose, for the tests of the desk's side.
void misbehave(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return;
    const QByteArray head = file.read(32);
    if (head.startsWith("ZK-TEST-CRASH"))
        std::raise(SIGSEGV);
    if (head.startsWith("ZK-TEST-HANG"))
        for (;;)
            pause();
    if (head.startsWith("ZK-TEST-SPIN")) {
        static volatile bool stop = false;
        while (!stop) {
        }
    }
    if (head.startsWith("ZK-TEST-EAT")) {
        std::vector<std::vector<char>> eaten;
        for (;;)
            eaten.emplace_back(std::size_t{16} << 20, 'x');
    }
    if (head.startsWith("ZK-TEST-FLOOD")) {
        const QByteArray chunk(1 << 20, 'R');
        while (writeAll(chunk)) {
        }
        std::_Exit(0);
    }
    if (head.startsWith("ZK-TEST-GARBAGE")) {
        writeAll(QByteArrayLiteral("ZKWB1\nF\x01R\xff\xff\xff\x7f"));
        std::_Exit(0);
    }
}
#endif

} // namespace

int main(int argc, char **argv)
{
    // Nothing of the desk's is needed here: no inherited descriptor beyond the three standard
    // ones, no gain of privileges, no core file or debugger attach.
    closefrom(STDERR_FILENO + 1);
    prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0);
    prctl(PR_SET_DUMPABLE, 0, 0, 0, 0);
    if (argc != 4 || (std::strcmp(argv[1], "read") != 0 && std::strcmp(argv[1], "write") != 0)) {
        std::fprintf(stderr, "Aufruf: %s read|write MAX-BYTES DATEI\n", argv[0]);
        return 2;
    }
    const platform::OpenFor purpose =
        std::strcmp(argv[1], "write") == 0 ? platform::OpenFor::Writing : platform::OpenFor::Reading;
    const std::size_t maxUnpacked = std::strtoull(argv[2], nullptr, 10);
    const QString fileName = QString::fromLocal8Bit(argv[3]);
    QByteArray answer;
    try {
#ifdef ZK_READER_TEST_HOOKS
        misbehave(fileName);
#endif
        const auto context = platform::readWorkbook(fileName, maxUnpacked, purpose);
        answer = platform::encodeReaderAnswer(context->format, context->sheet());
    } catch (const platform::WorkbookError &e) {
        answer = platform::encodeReaderError(QString::fromStdString(e.what()));
    } catch (const std::bad_alloc &) {
        answer = platform::encodeReaderError(
            QStringLiteral("Die Datei \"%1\" konnte nicht gelesen werden: sie braucht mehr Arbeitsspeicher, als eine "
                           "Arbeitsmappe brauchen darf. Sie ist vermutlich beschädigt oder keine gültige Arbeitsmappe.")
                .arg(fileName));
    }
    return writeAll(answer) ? 0 : 1;
}
