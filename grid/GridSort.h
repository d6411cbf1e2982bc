#pragma once
// Comparison, type detection and stable sorting of grid rows, free of widget code.

#include <QString>
#include <QStringList>

#include <functional>
#include <optional>
#include <vector>

enum TSortStyle { ssAutomatic, ssNormal, ssNumeric, ssNumericExtended, ssDateTime, ssTime, ssCustom };
enum TSortDirection { sdAscending, sdDescending };

using SortCompare = std::function<int(const QString &, const QString &)>;

namespace gridsort {

// Characters compared as the single bytes of the desk's code page: every byte above 127 after
// every ASCII character; a text that is the beginning of another comes first.
int byteCompare(const QString &a, const QString &b);
// Letters A to Z become a to z; nothing else changes (umlauts included).
QString foldCase(const QString &text);

// Conversions with the default locale; nothing when the text is not such a value.
std::optional<double> toFloat(const QString &text);
std::optional<double> toDateTime(const QString &text); // days; a time alone converts too
std::optional<double> toTime(const QString &text);     // fraction of a day

// Compares values such as "A9"/"A12" or "9 m"/"10 m" by their differing numeric parts.
int extendedNumericCompare(const QString &s, const QString &t);

// The raw comparison of a style (negative, zero, positive).
int compare(TSortStyle style, const QString &a, const QString &b, const SortCompare &custom);

// ssNumeric when every text is a number, else ssDateTime, ssTime, ssNormal; no texts: ssNumeric.
TSortStyle detectStyle(const std::vector<QString> &texts);

// Entries of a comma text: commas and blanks separate, double quotes group.
QStringList splitCommaText(const QString &text);

// A stable merge sort that relies on nothing but the comparison itself (an inconsistent
// comparison gives some order, never a crash).
template <typename T, typename Less> void mergeSort(std::vector<T> &items, Less less)
{
    const std::size_t n = items.size();
    std::vector<T> buffer(n);
    for (std::size_t width = 1; width < n; width *= 2) {
        for (std::size_t lo = 0; lo < n; lo += 2 * width) {
            const std::size_t mid = std::min(lo + width, n), hi = std::min(lo + 2 * width, n);
            std::size_t i = lo, j = mid, k = lo;
            while (i < mid && j < hi)
                buffer[k++] = less(items[j], items[i]) ? std::move(items[j++]) : std::move(items[i++]);
            while (i < mid)
                buffer[k++] = std::move(items[i++]);
            while (j < hi)
                buffer[k++] = std::move(items[j++]);
        }
        items.swap(buffer);
    }
}

} // namespace gridsort
