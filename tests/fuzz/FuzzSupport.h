#pragma once
// What the fuzz harnesses share: a scratch folder for the files the readers take from disk, and
// workbook packages made from the parts a harness's input holds.

#include "WorkbookParts.h"

#include <QFile>
#include <QString>
#include <QTemporaryDir>

#include <zip.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace fuzz {

inline QString scratchFile(const char *name)
{
    static QTemporaryDir dir;
    return dir.filePath(QLatin1String(name));
}

inline void writeFile(const QString &path, const std::uint8_t *data, std::size_t size)
{
    QFile file(path);
    if (file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        file.write(reinterpret_cast<const char *>(data), static_cast<qint64>(size));
}

// The parts of an input, separated by NUL bytes, which no XML part holds.
inline std::vector<std::string> splitParts(const std::uint8_t *data, std::size_t size)
{
    std::vector<std::string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0)
            parts.emplace_back();
        else
            parts.back() += static_cast<char>(data[i]);
    }
    return parts;
}

// A zip of the given parts, stored unpacked so that writing it costs little.
inline void writeZip(const QString &path, const std::vector<std::pair<std::string, std::string>> &parts)
{
    int error = 0;
    zip_t *z = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!z)
        return;
    for (const auto &[name, content] : parts) {
        zip_source_t *src = zip_source_buffer(z, content.data(), content.size(), 0);
        const zip_int64_t i = zip_file_add(z, name.c_str(), src, 0);
        if (i >= 0)
            zip_set_file_compression(z, static_cast<zip_uint64_t>(i), ZIP_CM_STORE, 0);
    }
    zip_close(z);
}

// An .xlsx whose first sheet, shared strings, styles and workbook part are given (empty: a
// plain one of each).
inline void writeXlsx(const QString &path, const std::vector<std::string> &given)
{
    auto part = [&](std::size_t i, const char *plain) { return i < given.size() && !given[i].empty() ? given[i] : std::string(plain); };
    writeZip(path,
             {{"[Content_Types].xml",
               R"(<?xml version="1.0"?><Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
               R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/></Types>)"},
              {"_rels/.rels",
               R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships"><Relationship Id="rId1" )"
               R"(Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/></Relationships>)"},
              {"xl/_rels/workbook.xml.rels",
               R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
               R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
               R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/sharedStrings" Target="sharedStrings.xml"/>)"
               R"(<Relationship Id="rId3" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/></Relationships>)"},
              {"xl/worksheets/sheet1.xml",
               part(0, R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"><sheetData/></worksheet>)")},
              {"xl/sharedStrings.xml", part(1, R"(<sst xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"/>)")},
              {"xl/styles.xml", part(2, R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"/>)")},
              {"xl/workbook.xml",
               part(3, R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
                       R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
                       R"(<sheets><sheet name="Liste" sheetId="1" r:id="rId1"/></sheets></workbook>)")}});
}

// An input that is a whole file (a zip or a compound file) is taken as it is.
inline bool isWholeFile(const std::uint8_t *data, std::size_t size)
{
    return size >= 4 && ((data[0] == 'P' && data[1] == 'K') || (data[0] == 0xd0 && data[1] == 0xcf));
}

// What the child process would hand back for a sheet, read back by the desk, is the sheet itself
// (texts as UTF-8 carries them).
inline bool sameSheet(const platform::SheetData &a, const platform::SheetData &b)
{
    if (a.rows.size() != b.rows.size())
        return false;
    for (std::size_t r = 0; r < a.rows.size(); ++r) {
        const auto &x = a.rows[r];
        const auto &y = b.rows[r];
        if (x.row != y.row || x.repeat != y.repeat || x.cells.size() != y.cells.size())
            return false;
        for (std::size_t c = 0; c < x.cells.size(); ++c) {
            const auto &p = x.cells[c];
            const auto &q = y.cells[c];
            if (p.col != q.col || p.repeat != q.repeat || p.value.type != q.value.type
                || std::memcmp(&p.value.number, &q.value.number, sizeof(double)) != 0
                || QString::fromUtf8(p.value.text.toUtf8()) != q.value.text)
                return false;
        }
    }
    return true;
}

// Reads a workbook as the desk's start-list import does, with the reader process's answer in
// between; any fault but a WorkbookError is a finding.
inline void readAsTheDeskDoes(const QString &file)
{
    try {
        const auto context = platform::readWorkbook(file, std::size_t{4} << 20, platform::OpenFor::Reading);
        const QByteArray answer = platform::encodeReaderAnswer(context->format, context->sheet());
        const platform::ReaderAnswer back = platform::decodeReaderAnswer(answer, file);
        if (back.format != context->format || !sameSheet(back.sheet, context->sheet()))
            std::abort();
        platform::Worksheet sheet(context);
        const int rows = std::min(sheet.leadingFilledRows(1), 2000);
        const platform::CellBlock block = sheet.rangeValue({1, 1}, {std::max(rows, 1), 7});
        for (int r = 1; r <= rows; ++r)
            for (int c = 1; c <= 7; ++c)
                if (platform::cellText(block.at(r, c)).size() > platform::WorkbookLimits::MaxCellChars + 32)
                    std::abort();
    } catch (const platform::WorkbookError &) {
    }
}

} // namespace fuzz
