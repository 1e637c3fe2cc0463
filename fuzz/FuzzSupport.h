#ifndef FUZZSUPPORT_H
#define FUZZSUPPORT_H

#include <QString>
#include <QStringList>
#include <QVariant>

#include <cstddef>

class FuzzedDataProvider;

// Pieces every fuzz target shares: a quiet Qt application, checks that end the run with a
// crash libFuzzer records, and the decoding of raw bytes into Qt values.
namespace FuzzSupport {

// Creates the QCoreApplication and silences the logger: a log line per input would cost more
// than the code under test.
void initialize(int *argc, char ***argv);

// A broken property of the code under test: print it and abort, so libFuzzer keeps the input.
[[noreturn]] void fail(const char *what, const QString &detail = QString());
inline void check(bool condition, const char *what, const QString &detail = QString())
{
    if (!condition)
        fail(what, detail);
}

// A folder that holds a few files of supported and unsupported formats (a.jpg, B.TIF, c.png,
// sub/d.jpeg, notes.txt, side.xmp) and becomes the current folder, so that relative paths in
// the inputs can name existing files. Removed when the process ends.
QString makeFixtureFolder();

// Text that may hold any UTF-16 code unit, lone surrogates and NULs included.
QString consumeText(FuzzedDataProvider &in, std::size_t maxUnits);

// Starts the allowance of repeated elements for one input.
void resetRepeatBudget();

// A value tree of strings, numbers, booleans, maps and lists, nested up to `depth`; lists may
// repeat one element up to 64 times, so that long texts come from short inputs.
QVariant consumeValue(FuzzedDataProvider &in, int depth, const QStringList &keys);

} // namespace FuzzSupport

#endif // FUZZSUPPORT_H
