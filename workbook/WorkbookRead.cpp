// Reading workbooks: format detection by content, the zip container with its limits, Office Open
// XML (.xlsx), OpenDocument (.ods) and legacy BIFF (.xls, through FreeXL).

#include "WorkbookParts.h"

#include <QDate>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QRegularExpression>
#include <QTime>

#include <freexl.h>
#include <zip.h>

#include <algorithm>
#include <charconv>
#include <cstring>

namespace platform {

namespace {

QString quoted(const QString &fileName) { return QStringLiteral("\"%1\"").arg(fileName); }

[[noreturn]] void damaged(const QString &file, const QString &detail)
{
    throw WorkbookError(QStringLiteral("Die Arbeitsmappe %1 ist beschädigt oder unvollständig (%2).")
                            .arg(quoted(file), detail));
}

[[noreturn]] void passwordProtected(const QString &file)
{
    throw WorkbookError(QStringLiteral("Die Arbeitsmappe %1 ist mit einem Kennwort geschützt. "
                                       "Bitte ohne Kennwort speichern und erneut laden.")
                            .arg(quoted(file)));
}

[[noreturn]] void tooLarge(const QString &file, std::size_t maxUnpacked)
{
    throw WorkbookError(QStringLiteral("Die Arbeitsmappe %1 wird nicht gelesen: ihr Inhalt wäre entpackt "
                                       "unverhältnismäßig groß (mehr als %2 MB oder stärker als %3:1 gepackt).")
                            .arg(quoted(file))
                            .arg(QLocale().toString(static_cast<double>(maxUnpacked) / (1 << 20), 'g', 4))
                            .arg(WorkbookLimits::MaxPackRatio));
}

// Counts what a read produces against the limits on a cell's text and on the sheet's text.
class SheetBudget {
public:
    explicit SheetBudget(const QString &file) : file_(file) {}
    // A value that stands in `rows` rows and `cols` columns from (row, col) on, the repeats
    // already cut at the sheet's edges. A value other than a text counts as one character.
    void add(const CellValue &value, long long rows, long long cols, int row, int col)
    {
        if (value.isEmpty())
            return;
        const qsizetype chars = value.text.size();
        if (chars > WorkbookLimits::MaxCellChars)
            throw WorkbookError(QStringLiteral("Die Arbeitsmappe %1 wird nicht gelesen: die Zelle %2 enthält mehr als "
                                               "%3 Zeichen, mehr als eine Tabellenkalkulation in einer Zelle erlaubt.")
                                    .arg(quoted(file_), QString::fromStdString(cellReference(row, col)),
                                         QLocale().toString(WorkbookLimits::MaxCellChars)));
        total_ += static_cast<unsigned long long>(std::max<qsizetype>(chars, 1)) * static_cast<unsigned long long>(rows)
                  * static_cast<unsigned long long>(cols);
        if (total_ > WorkbookLimits::MaxSheetChars)
            throw WorkbookError(QStringLiteral("Die Arbeitsmappe %1 wird nicht gelesen: ihr erstes Tabellenblatt enthält "
                                               "mehr als %2 Millionen Zeichen Text (wiederholte Zellen mitgezählt).")
                                    .arg(quoted(file_))
                                    .arg(WorkbookLimits::MaxSheetChars >> 20));
    }

private:
    const QString &file_;
    unsigned long long total_ = 0;
};

[[noreturn]] void notAWorkbook(const QString &file)
{
    throw WorkbookError(QStringLiteral("Die Datei %1 ist keine Arbeitsmappe (.xlsx, .xls oder .ods).").arg(quoted(file)));
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Sheet model

int SheetData::usedRows() const
{
    long long n = 0;
    for (const Row &row : rows)
        n += row.repeat;
    return static_cast<int>(std::min<long long>(n, MaxSheetRows));
}

void SheetData::normalizeRows()
{
    std::stable_sort(rows.begin(), rows.end(), [](const Row &a, const Row &b) { return a.row < b.row; });
    std::vector<Row> joined;
    joined.reserve(rows.size());
    for (Row &row : rows) {
        if (!joined.empty() && joined.back().row == row.row) {
            auto &cells = joined.back().cells;
            cells.insert(cells.end(), std::make_move_iterator(row.cells.begin()), std::make_move_iterator(row.cells.end()));
        } else {
            joined.push_back(std::move(row));
        }
    }
    rows = std::move(joined);
}

// ---------------------------------------------------------------------------------------------
// XML helpers

namespace xml {

const char *localName(const char *qualified)
{
    const char *colon = std::strchr(qualified, ':');
    return colon ? colon + 1 : qualified;
}

bool is(const pugi::xml_node &node, const char *local)
{
    return node.type() == pugi::node_element && std::strcmp(localName(node.name()), local) == 0;
}

pugi::xml_node child(const pugi::xml_node &node, const char *local)
{
    for (pugi::xml_node c = node.first_child(); c; c = c.next_sibling())
        if (is(c, local))
            return c;
    return {};
}

pugi::xml_attribute attribute(const pugi::xml_node &node, const char *local)
{
    for (pugi::xml_attribute a = node.first_attribute(); a; a = a.next_attribute())
        if (std::strcmp(localName(a.name()), local) == 0)
            return a;
    return {};
}

void parse(pugi::xml_document &doc, const std::string &text, const QString &shownName, const std::string &part)
{
    const unsigned options = pugi::parse_default | pugi::parse_ws_pcdata | pugi::parse_doctype | pugi::parse_declaration;
    const pugi::xml_parse_result result = doc.load_buffer(text.data(), text.size(), options);
    if (!result)
        damaged(shownName, QStringLiteral("%1 ist kein gültiges XML: %2 an Stelle %3")
                               .arg(QString::fromStdString(part), QString::fromLatin1(result.description()))
                               .arg(result.offset));
    for (pugi::xml_node n = doc.first_child(); n; n = n.next_sibling())
        if (n.type() == pugi::node_doctype)
            throw WorkbookError(QStringLiteral("Die Arbeitsmappe %1 enthält eine DOCTYPE-Deklaration in %2 und wird "
                                               "aus Sicherheitsgründen nicht gelesen.")
                                    .arg(quoted(shownName), QString::fromStdString(part)));
    // Nothing that works on the document afterwards needs to mind its depth: a walk through
    // every node, climbing back up through the parents instead of a stack.
    int depth = 0;
    for (pugi::xml_node n = doc.first_child(); n;) {
        if (n.first_child()) {
            n = n.first_child();
            if (++depth > WorkbookLimits::MaxXmlDepth)
                damaged(shownName, QStringLiteral("%1 ist tiefer als %2 Ebenen verschachtelt")
                                       .arg(QString::fromStdString(part))
                                       .arg(WorkbookLimits::MaxXmlDepth));
            continue;
        }
        while (n && !n.next_sibling()) {
            n = n.parent();
            --depth;
        }
        if (n)
            n = n.next_sibling();
    }
}

namespace {
struct StringWriter final : pugi::xml_writer {
    std::string out;
    void write(const void *data, size_t size) override { out.append(static_cast<const char *>(data), size); }
};
} // namespace

std::string serialize(const pugi::xml_document &doc)
{
    StringWriter writer;
    doc.save(writer, "", pugi::format_raw, pugi::encoding_utf8);
    return std::move(writer.out);
}

} // namespace xml

// ---------------------------------------------------------------------------------------------
// Small parsers

std::pair<int, int> parseCellReference(const char *ref)
{
    long long col = 0, row = 0;
    const char *p = ref;
    while (*p == '$')
        ++p;
    while ((*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z')) {
        col = col * 26 + ((*p | 0x20) - 'a' + 1);
        if (col > MaxSheetCols)
            return {0, 0};
        ++p;
    }
    while (*p == '$')
        ++p;
    while (*p >= '0' && *p <= '9') {
        row = row * 10 + (*p - '0');
        if (row > MaxSheetRows)
            return {static_cast<int>(col), 0};
        ++p;
    }
    if (*p != '\0')
        return {0, 0};
    return {static_cast<int>(col), static_cast<int>(row)};
}

std::string cellReference(int row, int col)
{
    std::string letters;
    for (int c = col; c > 0; c = (c - 1) / 26)
        letters.insert(letters.begin(), static_cast<char>('A' + (c - 1) % 26));
    return letters + std::to_string(row);
}

namespace {
int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Position of an "_xHHHH_" escape starting at s, its code in *code.
bool escapeAt(const char *s, int *code)
{
    if (s[0] != '_' || s[1] != 'x')
        return false;
    int v = 0;
    for (int i = 2; i < 6; ++i) {
        const int h = hexValue(s[i]);
        if (h < 0)
            return false;
        v = v * 16 + h;
    }
    if (s[6] != '_')
        return false;
    *code = v;
    return true;
}
} // namespace

QString decodeOoxmlText(const char *utf8)
{
    if (!std::strstr(utf8, "_x"))
        return QString::fromUtf8(utf8);
    std::string out;
    for (const char *p = utf8; *p;) {
        int code = 0;
        if (escapeAt(p, &code)) {
            const QString c(QChar(static_cast<char16_t>(code)));
            out += c.toUtf8().toStdString();
            p += 7;
        } else {
            out += *p++;
        }
    }
    return QString::fromStdString(out);
}

std::string encodeOoxmlText(const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    std::string out;
    out.reserve(static_cast<std::size_t>(bytes.size()));
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        int code = 0;
        // Characters XML cannot carry, CR (which XML would turn into LF) and a literal "_xHHHH_".
        if ((c < 0x20 && c != '\t' && c != '\n') || (c == '_' && escapeAt(bytes.constData() + i, &code))) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "_x%04X_", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool isBuiltInDateFormat(int id)
{
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) || (id >= 50 && id <= 58);
}

bool isDateFormatCode(const std::string &code)
{
    bool quoted = false;
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (quoted) {
            quoted = c != '"';
            continue;
        }
        switch (c) {
        case '"':
            quoted = true;
            break;
        case '\\':
        case '_':
        case '*':
            ++i; // the next character is shown literally
            break;
        case '[': {
            const std::size_t end = code.find(']', i);
            if (end == std::string::npos)
                return false;
            std::string inner = code.substr(i + 1, end - i - 1);
            for (char &ch : inner)
                ch = static_cast<char>(ch | 0x20);
            if (!inner.empty() && inner.find_first_not_of(inner[0]) == std::string::npos
                && (inner[0] == 'h' || inner[0] == 'm' || inner[0] == 's'))
                return true; // elapsed time [h], [mm], [ss]
            i = end;
            break;
        }
        case ';':
            return false; // only the first section decides
        default: {
            const char lower = static_cast<char>(c | 0x20);
            if (lower == 'd' || lower == 'y' || lower == 'm' || lower == 'h' || lower == 's')
                return true;
        }
        }
    }
    return false;
}

namespace {

bool parseDouble(const char *text, double *out)
{
    while (*text == ' ')
        ++text;
    const char *end = text + std::strlen(text);
    while (end > text && end[-1] == ' ')
        --end;
    if (*text == '+')
        ++text;
    const auto result = std::from_chars(text, end, *out);
    return result.ec == std::errc() && result.ptr == end;
}

// A repeat count, at least 1 and at most max (the rows or columns of a sheet): sums of counts
// stay far from overflowing.
long long parseCount(const pugi::xml_attribute &a, long long max)
{
    if (!a)
        return 1;
    return std::clamp<long long>(a.as_llong(1), 1, max);
}

// An ISO date or date-time ("2027-05-14", "2027-05-14T10:30:00.5", "2027-05-14 10:30:00").
std::optional<double> isoDateSerial(const char *text)
{
    const QString s = QString::fromLatin1(text).trimmed();
    const QDate date = QDate::fromString(s.left(10), Qt::ISODate);
    if (!date.isValid()) {
        // A time alone.
        const QTime t = QTime::fromString(s, Qt::ISODateWithMs);
        if (!t.isValid())
            return std::nullopt;
        return t.msecsSinceStartOfDay() / 86400000.0;
    }
    double serial = dateTimeSerial(date.year(), date.month(), date.day());
    if (s.size() > 11 && (s[10] == QLatin1Char('T') || s[10] == QLatin1Char(' '))) {
        QString timePart = s.mid(11);
        const qsizetype zone = timePart.indexOf(QRegularExpression(QStringLiteral("[Z+-]")));
        if (zone >= 0)
            timePart.truncate(zone);
        const QTime t = QTime::fromString(timePart, Qt::ISODateWithMs);
        if (!t.isValid())
            return std::nullopt;
        serial += t.msecsSinceStartOfDay() / 86400000.0;
    }
    return serial;
}

// An ISO duration of a time cell ("PT10H30M00S", "PT1H2M3.5S").
std::optional<double> isoDurationDays(const char *text)
{
    const char *p = text;
    bool negative = false;
    if (*p == '-') {
        negative = true;
        ++p;
    }
    if (*p++ != 'P')
        return std::nullopt;
    double seconds = 0, number = 0;
    bool inTime = false;
    while (*p) {
        if (*p == 'T') {
            inTime = true;
            ++p;
            continue;
        }
        const char *start = p;
        while ((*p >= '0' && *p <= '9') || *p == '.')
            ++p;
        if (p == start || !*p)
            return std::nullopt;
        if (std::from_chars(start, p, number).ec != std::errc())
            return std::nullopt;
        switch (*p++) {
        case 'D': seconds += number * 86400; break;
        case 'H': seconds += number * 3600; break;
        case 'M': seconds += inTime ? number * 60 : number * 30 * 86400; break;
        case 'S': seconds += number; break;
        case 'Y': seconds += number * 365 * 86400; break;
        default: return std::nullopt;
        }
    }
    return (negative ? -seconds : seconds) / 86400.0;
}

} // namespace

// ---------------------------------------------------------------------------------------------
// Zip container

ZipReader::ZipReader(const QString &fileName, const QString &shownName, std::size_t maxUnpacked)
    : shownName_(shownName)
{
    int error = 0;
    archive_ = zip_open(QFile::encodeName(fileName).constData(), ZIP_RDONLY, &error);
    if (!archive_) {
        zip_error_t e;
        zip_error_init_with_code(&e, error);
        const QString detail = QString::fromLocal8Bit(zip_error_strerror(&e));
        zip_error_fini(&e);
        if (error == ZIP_ER_NOENT)
            throw WorkbookError(QStringLiteral("Die Datei %1 wurde nicht gefunden.").arg(quoted(shownName)));
        damaged(shownName, detail);
    }
    const zip_int64_t count = zip_get_num_entries(archive_, 0);
    std::size_t total = 0;
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive_, static_cast<zip_uint64_t>(i), 0, &st) != 0)
            continue;
        if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE) {
            zip_close(archive_);
            archive_ = nullptr;
            passwordProtected(shownName);
        }
        const std::size_t size = static_cast<std::size_t>(st.size);
        const std::size_t packed = std::max<std::size_t>(static_cast<std::size_t>(st.comp_size), 1);
        total += size;
        if (size > maxUnpacked || total > maxUnpacked
            || (size > WorkbookLimits::RatioCheckedFrom && size / packed > WorkbookLimits::MaxPackRatio)) {
            zip_close(archive_);
            archive_ = nullptr;
            tooLarge(shownName, maxUnpacked);
        }
    }
}

ZipReader::~ZipReader()
{
    if (archive_)
        zip_discard(archive_);
}

bool ZipReader::contains(const std::string &name) const { return zip_name_locate(archive_, name.c_str(), 0) >= 0; }

std::vector<std::string> ZipReader::names() const
{
    std::vector<std::string> out;
    const zip_int64_t count = zip_get_num_entries(archive_, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *name = zip_get_name(archive_, static_cast<zip_uint64_t>(i), 0);
        out.emplace_back(name ? name : "");
    }
    return out;
}

std::optional<std::string> ZipReader::read(const std::string &name) const
{
    const zip_int64_t index = zip_name_locate(archive_, name.c_str(), 0);
    if (index < 0)
        return std::nullopt;
    zip_stat_t st;
    if (zip_stat_index(archive_, static_cast<zip_uint64_t>(index), 0, &st) != 0)
        damaged(shownName_, QString::fromStdString(name));
    if (st.size > WorkbookLimits::MaxReadBytes - readBytes_)
        tooLarge(shownName_, WorkbookLimits::MaxReadBytes);
    readBytes_ += static_cast<std::size_t>(st.size);
    zip_file_t *file = zip_fopen_index(archive_, static_cast<zip_uint64_t>(index), 0);
    if (!file) {
        if (zip_error_code_zip(zip_get_error(archive_)) == ZIP_ER_NOPASSWD)
            passwordProtected(shownName_);
        damaged(shownName_, QString::fromStdString(name));
    }
    // Never more than the size the directory declares (checked against the limits on opening).
    std::string out(static_cast<std::size_t>(st.size), '\0');
    std::size_t got = 0;
    bool failed = false;
    while (got < out.size()) {
        const zip_int64_t n = zip_fread(file, out.data() + got, out.size() - got);
        if (n <= 0) {
            failed = n < 0;
            break;
        }
        got += static_cast<std::size_t>(n);
    }
    char extra;
    if (!failed && got == out.size() && zip_fread(file, &extra, 1) != 0)
        failed = true; // more data than declared, or a checksum error at the end
    zip_fclose(file);
    if (failed || got != out.size())
        damaged(shownName_, QString::fromStdString(name));
    return out;
}

// ---------------------------------------------------------------------------------------------
// Office Open XML

namespace {

struct Relationship {
    std::string type;
    std::string target;
};

std::string partDirectory(const std::string &part)
{
    const std::size_t slash = part.rfind('/');
    return slash == std::string::npos ? std::string() : part.substr(0, slash + 1);
}

std::string resolvePart(const std::string &baseDir, const std::string &target)
{
    std::string path = target.rfind('/', 0) == 0 ? target.substr(1) : baseDir + target;
    std::vector<std::string> segments;
    std::size_t start = 0;
    while (start <= path.size()) {
        const std::size_t end = std::min(path.find('/', start), path.size());
        const std::string segment = path.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
        } else if (!segment.empty() && segment != ".") {
            segments.push_back(segment);
        }
        start = end + 1;
    }
    std::string out;
    for (const std::string &s : segments)
        out += (out.empty() ? "" : "/") + s;
    return out;
}

std::string relsPathOf(const std::string &part)
{
    return partDirectory(part) + "_rels/" + part.substr(partDirectory(part).size()) + ".rels";
}

std::map<std::string, Relationship> readRelationships(const ZipReader &zip, const std::string &relsPath,
                                                      const std::string &ownerDir, const QString &shown)
{
    std::map<std::string, Relationship> out;
    const auto text = zip.read(relsPath);
    if (!text)
        return out;
    pugi::xml_document doc;
    xml::parse(doc, *text, shown, relsPath);
    for (pugi::xml_node r = xml::child(doc, "Relationships").first_child(); r; r = r.next_sibling()) {
        if (!xml::is(r, "Relationship"))
            continue;
        const std::string mode = r.attribute("TargetMode").value();
        if (mode == "External")
            continue;
        out[r.attribute("Id").value()] = {r.attribute("Type").value(), resolvePart(ownerDir, r.attribute("Target").value())};
    }
    return out;
}

bool endsWith(const std::string &s, const char *suffix)
{
    const std::size_t n = std::strlen(suffix);
    return s.size() >= n && s.compare(s.size() - n, n, suffix) == 0;
}

// The text of a string item: its <t>, or the <t> of its runs; phonetic hints are left out.
QString richText(const pugi::xml_node &item)
{
    std::string out;
    for (pugi::xml_node n = item.first_child(); n; n = n.next_sibling()) {
        if (xml::is(n, "t"))
            out += n.child_value();
        else if (xml::is(n, "r"))
            out += xml::child(n, "t").child_value();
    }
    return decodeOoxmlText(out.c_str());
}

void readStyles(WorkbookContext &c, const ZipReader &zip, const std::string &path, const QString &shown)
{
    const auto text = zip.read(path);
    if (!text)
        return;
    pugi::xml_document doc;
    xml::parse(doc, *text, shown, path);
    const pugi::xml_node sheet = xml::child(doc, "styleSheet");
    std::map<int, bool> custom;
    for (pugi::xml_node f = xml::child(xml::child(sheet, "numFmts"), "numFmt"); f; f = f.next_sibling())
        if (xml::is(f, "numFmt"))
            custom[f.attribute("numFmtId").as_int(-1)] = isDateFormatCode(f.attribute("formatCode").value());
    for (pugi::xml_node xf = xml::child(sheet, "cellXfs").first_child(); xf; xf = xf.next_sibling()) {
        if (!xml::is(xf, "xf"))
            continue;
        const int id = xf.attribute("numFmtId").as_int(0);
        const auto it = custom.find(id);
        c.dateStyles.push_back(it != custom.end() ? it->second : isBuiltInDateFormat(id));
    }
}

void readSharedStrings(WorkbookContext &c, const ZipReader &zip, const std::string &path, const QString &shown)
{
    const auto text = zip.read(path);
    if (!text)
        return;
    pugi::xml_document doc;
    xml::parse(doc, *text, shown, path);
    for (pugi::xml_node si = xml::child(doc, "sst").first_child(); si; si = si.next_sibling())
        if (xml::is(si, "si"))
            c.sharedStrings.push_back(richText(si));
}

void openXlsx(WorkbookContext &c, std::unique_ptr<ZipReader> zip)
{
    const QString &shown = c.fileName;
    const auto root = readRelationships(*zip, "_rels/.rels", "", shown);
    for (const auto &[id, rel] : root)
        if (endsWith(rel.type, "/officeDocument"))
            c.workbookPath = rel.target;
    const auto workbookText = zip->read(c.workbookPath);
    if (!workbookText)
        damaged(shown, QStringLiteral("die Arbeitsmappe selbst fehlt"));
    pugi::xml_document workbook;
    xml::parse(workbook, *workbookText, shown, c.workbookPath);
    const pugi::xml_node wb = xml::child(workbook, "workbook");
    const std::string date1904 = xml::child(wb, "workbookPr").attribute("date1904").value();
    c.date1904 = date1904 == "1" || date1904 == "true";

    c.workbookRelsPath = relsPathOf(c.workbookPath);
    const auto rels = readRelationships(*zip, c.workbookRelsPath, partDirectory(c.workbookPath), shown);
    pugi::xml_node firstSheet;
    for (pugi::xml_node s = xml::child(wb, "sheets").first_child(); s; s = s.next_sibling())
        if (xml::is(s, "sheet")) {
            firstSheet = s;
            break;
        }
    const auto sheetRel = rels.find(xml::attribute(firstSheet, "id").value());
    if (!firstSheet || sheetRel == rels.end())
        damaged(shown, QStringLiteral("kein Tabellenblatt"));
    c.sheetPath = sheetRel->second.target;
    for (const auto &[id, rel] : rels) {
        if (endsWith(rel.type, "/styles"))
            readStyles(c, *zip, rel.target, shown);
        else if (endsWith(rel.type, "/sharedStrings"))
            readSharedStrings(c, *zip, rel.target, shown);
    }
    const auto sheetText = zip->read(c.sheetPath);
    if (!sheetText)
        damaged(shown, QStringLiteral("das Tabellenblatt fehlt"));
    xml::parse(c.sheetXml, *sheetText, shown, c.sheetPath);
    if (!xml::child(xml::child(c.sheetXml, "worksheet"), "sheetData"))
        damaged(shown, QStringLiteral("das Tabellenblatt hat keine Zellen"));
    c.source = std::move(zip);
    c.format = WorkbookFormat::Xlsx;
}

CellValue xlsxCellValue(const WorkbookContext &c, const pugi::xml_node &cell)
{
    const char *type = cell.attribute("t").value();
    const pugi::xml_node v = xml::child(cell, "v");
    if (std::strcmp(type, "inlineStr") == 0)
        return CellValue::fromText(richText(xml::child(cell, "is")));
    if (!v)
        return {};
    const char *text = v.child_value();
    if (std::strcmp(type, "s") == 0) {
        const long long index = v.text().as_llong(-1);
        if (index < 0 || index >= static_cast<long long>(c.sharedStrings.size()))
            damaged(c.fileName, QStringLiteral("Verweis auf einen fehlenden Text in %1")
                                    .arg(QString::fromLatin1(cell.attribute("r").value())));
        return CellValue::fromText(c.sharedStrings[static_cast<std::size_t>(index)]);
    }
    if (std::strcmp(type, "str") == 0)
        return CellValue::fromText(decodeOoxmlText(text));
    if (std::strcmp(type, "b") == 0)
        return CellValue::fromBoolean(std::strcmp(text, "0") != 0 && std::strcmp(text, "false") != 0);
    if (std::strcmp(type, "e") == 0)
        return CellValue::fromError(QString::fromUtf8(text));
    if (std::strcmp(type, "d") == 0) {
        const auto serial = isoDateSerial(text);
        return serial ? CellValue::fromDateTime(*serial) : CellValue::fromText(QString::fromUtf8(text));
    }
    double number = 0;
    if (!parseDouble(text, &number))
        return CellValue::fromText(QString::fromUtf8(text));
    const long long style = cell.attribute("s").as_llong(0);
    if (style >= 0 && style < static_cast<long long>(c.dateStyles.size()) && c.dateStyles[static_cast<std::size_t>(style)]) {
        // A time of day alone (below one day) is the same in both day counts and in every format.
        double serial = number;
        if (serial >= 0 && serial < 1)
            return CellValue::fromDateTime(serial);
        if (c.date1904)
            serial += 1462;
        else if (serial > 0 && serial < 60)
            serial += 1; // the sheet's day count holds a 29 February 1900 that never was
        return CellValue::fromDateTime(serial);
    }
    return CellValue::fromNumber(number);
}

SheetData xlsxSheetData(const WorkbookContext &c)
{
    SheetData data;
    SheetBudget budget(c.fileName);
    const pugi::xml_node sheetData = xml::child(xml::child(c.sheetXml, "worksheet"), "sheetData");
    int rowIndex = 0;
    bool sorted = true;
    for (pugi::xml_node row = sheetData.first_child(); row; row = row.next_sibling()) {
        if (!xml::is(row, "row"))
            continue;
        const pugi::xml_attribute r = row.attribute("r");
        const int next = r ? static_cast<int>(std::clamp<long long>(r.as_llong(0), 0, MaxSheetRows + 1LL)) : rowIndex + 1;
        if (next <= rowIndex)
            sorted = false;
        rowIndex = next;
        if (rowIndex < 1 || rowIndex > MaxSheetRows)
            continue;
        SheetData::Row out{rowIndex, 1, {}};
        int col = 0;
        for (pugi::xml_node cell = row.first_child(); cell; cell = cell.next_sibling()) {
            if (!xml::is(cell, "c"))
                continue;
            const pugi::xml_attribute ref = cell.attribute("r");
            col = ref ? parseCellReference(ref.value()).first : col + 1;
            if (col < 1 || col > MaxSheetCols)
                continue;
            CellValue value = xlsxCellValue(c, cell);
            budget.add(value, 1, 1, rowIndex, col);
            if (!value.isEmpty())
                out.cells.push_back({col, 1, std::move(value)});
        }
        if (!out.cells.empty())
            data.rows.push_back(std::move(out));
    }
    if (!sorted)
        data.normalizeRows();
    return data;
}

// ---------------------------------------------------------------------------------------------
// OpenDocument

// The text of a paragraph. Spans nest as deep as the file likes: the walk climbs back up through
// the parents instead of recursing. A text that grows beyond what any cell may hold ends the walk
// (the caller refuses it). Beyond MaxBytes of UTF-8 a text has more characters than a cell may
// hold (a character takes at most three bytes per UTF-16 unit), so the blanks of a repeat marker
// are counted first and never appended beyond that: the text then stops one byte over, and the
// caller refuses the cell as it refuses the same blanks written out.
void appendOdsText(const pugi::xml_node &paragraph, std::string &out)
{
    constexpr std::size_t MaxBytes = 3 * static_cast<std::size_t>(WorkbookLimits::MaxCellChars) + 3;
    pugi::xml_node n = paragraph.first_child();
    while (n && out.size() <= MaxBytes) {
        bool descend = false;
        if (n.type() == pugi::node_pcdata || n.type() == pugi::node_cdata) {
            out += n.value();
        } else if (n.type() != pugi::node_element) {
        } else if (xml::is(n, "s")) {
            const long long blanks = parseCount(xml::attribute(n, "c"), static_cast<long long>(MaxBytes) + 1);
            out.append(std::min(static_cast<std::size_t>(blanks), MaxBytes + 1 - out.size()), ' ');
        } else if (xml::is(n, "tab")) {
            out += '\t';
        } else if (xml::is(n, "line-break")) {
            out += '\n';
        } else if (!xml::is(n, "annotation") && !xml::is(n, "note")) {
            descend = !n.first_child().empty();
        }
        if (descend) {
            n = n.first_child();
            continue;
        }
        while (n != paragraph && !n.next_sibling())
            n = n.parent();
        if (n == paragraph)
            break;
        n = n.next_sibling();
    }
}

CellValue odsCellValue(const pugi::xml_node &cell)
{
    const std::string type = xml::attribute(cell, "value-type").value();
    if (type == "float" || type == "percentage" || type == "currency") {
        double number = 0;
        if (parseDouble(xml::attribute(cell, "value").value(), &number))
            return CellValue::fromNumber(number);
    } else if (type == "date") {
        if (const auto serial = isoDateSerial(xml::attribute(cell, "date-value").value()))
            return CellValue::fromDateTime(*serial);
    } else if (type == "time") {
        if (const auto days = isoDurationDays(xml::attribute(cell, "time-value").value()))
            return CellValue::fromDateTime(*days);
    } else if (type == "boolean") {
        const std::string b = xml::attribute(cell, "boolean-value").value();
        return CellValue::fromBoolean(b == "true" || b == "1");
    } else if (const pugi::xml_attribute s = xml::attribute(cell, "string-value"); s && type == "string") {
        return CellValue::fromText(QString::fromUtf8(s.value()));
    }
    std::string text;
    bool first = true;
    for (pugi::xml_node p = cell.first_child(); p; p = p.next_sibling()) {
        if (!xml::is(p, "p") && !xml::is(p, "h"))
            continue;
        if (!first)
            text += '\n';
        first = false;
        appendOdsText(p, text);
    }
    if (first)
        return {};
    return CellValue::fromText(QString::fromUtf8(text.c_str()));
}

// The rows of a table, also those inside row groups, header rows and row blocks, which nest as
// deep as the file likes: the walk climbs back up through the parents instead of recursing.
void readOdsRows(const pugi::xml_node &table, SheetData &data, const QString &file)
{
    SheetBudget budget(file);
    long long rowIndex = 1;
    pugi::xml_node row = table.first_child();
    while (row && rowIndex <= MaxSheetRows) {
        const bool group =
            xml::is(row, "table-row-group") || xml::is(row, "table-header-rows") || xml::is(row, "table-rows");
        if (group && row.first_child()) {
            row = row.first_child();
            continue;
        }
        if (xml::is(row, "table-row")) {
            const long long repeat =
                std::min(parseCount(xml::attribute(row, "number-rows-repeated"), MaxSheetRows), MaxSheetRows - rowIndex + 1);
            SheetData::Row out{static_cast<int>(rowIndex), static_cast<int>(repeat), {}};
            long long col = 1;
            for (pugi::xml_node cell = row.first_child(); cell && col <= MaxSheetCols; cell = cell.next_sibling()) {
                if (!xml::is(cell, "table-cell") && !xml::is(cell, "covered-table-cell"))
                    continue;
                const long long cols =
                    std::min(parseCount(xml::attribute(cell, "number-columns-repeated"), MaxSheetCols), MaxSheetCols - col + 1);
                CellValue value = odsCellValue(cell);
                budget.add(value, repeat, cols, static_cast<int>(rowIndex), static_cast<int>(col));
                if (!value.isEmpty())
                    out.cells.push_back({static_cast<int>(col), static_cast<int>(cols), std::move(value)});
                col += cols;
            }
            if (!out.cells.empty())
                data.rows.push_back(std::move(out));
            rowIndex += repeat;
        }
        while (row != table && !row.next_sibling())
            row = row.parent();
        if (row == table)
            break;
        row = row.next_sibling();
    }
}

void openOds(WorkbookContext &c, const ZipReader &zip)
{
    const QString &shown = c.fileName;
    if (const auto manifest = zip.read("META-INF/manifest.xml")) {
        pugi::xml_document doc;
        xml::parse(doc, *manifest, shown, "META-INF/manifest.xml");
        for (pugi::xml_node e = xml::child(xml::child(doc, "manifest"), "file-entry"); e; e = e.next_sibling())
            if (xml::child(e, "encryption-data"))
                passwordProtected(shown);
    }
    const auto content = zip.read("content.xml");
    if (!content)
        damaged(shown, QStringLiteral("content.xml fehlt"));
    pugi::xml_document doc;
    xml::parse(doc, *content, shown, "content.xml");
    const pugi::xml_node spreadsheet =
        xml::child(xml::child(xml::child(doc, "document-content"), "body"), "spreadsheet");
    if (!spreadsheet)
        notAWorkbook(shown);
    SheetData data;
    if (const pugi::xml_node table = xml::child(spreadsheet, "table"))
        readOdsRows(table, data, shown);
    c.data = std::move(data);
    c.format = WorkbookFormat::Ods;
}

// ---------------------------------------------------------------------------------------------
// Legacy BIFF

bool holdsEncryptedPackage(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    // The directory of a compound file names its streams in UTF-16.
    static const QByteArray name = QByteArray::fromRawData("E\0n\0c\0r\0y\0p\0t\0e\0d\0P\0a\0c\0k\0a\0g\0e\0", 32);
    QByteArray tail;
    while (!file.atEnd()) {
        const QByteArray chunk = tail + file.read(1 << 20);
        if (chunk.contains(name))
            return true;
        tail = chunk.right(name.size());
    }
    return false;
}

void openXls(WorkbookContext &c, const QString &fileName)
{
    const QString &shown = c.fileName;
    const void *handle = nullptr;
    const int rc = freexl_open(QFile::encodeName(fileName).constData(), &handle);
    struct Closer {
        const void *h;
        ~Closer()
        {
            if (h)
                freexl_close(h);
        }
    } closer{rc == FREEXL_OK ? handle : nullptr};
    if (rc == FREEXL_OK && !handle)
        damaged(shown, QStringLiteral("Fehler beim Lesen"));
    if (rc != FREEXL_OK) {
        if (holdsEncryptedPackage(fileName))
            passwordProtected(shown);
        if (rc == FREEXL_INSUFFICIENT_MEMORY)
            throw WorkbookError(QStringLiteral("Die Arbeitsmappe %1 ist zu groß.").arg(quoted(shown)));
        if (rc == FREEXL_BIFF_WORKBOOK_NOT_FOUND)
            notAWorkbook(shown);
        damaged(shown, QStringLiteral("Fehler %1 beim Lesen").arg(rc));
    }
    unsigned info = 0;
    if (freexl_get_info(handle, FREEXL_BIFF_PASSWORD, &info) == FREEXL_OK && info == FREEXL_BIFF_OBFUSCATED)
        passwordProtected(shown);
    unsigned rows = 0;
    unsigned short cols = 0;
    if (freexl_select_active_worksheet(handle, 0) != FREEXL_OK
        || freexl_worksheet_dimensions(handle, &rows, &cols) != FREEXL_OK)
        damaged(shown, QStringLiteral("kein Tabellenblatt"));
    SheetData data;
    SheetBudget budget(shown);
    for (unsigned r = 0; r < rows && r < 65536; ++r) {
        SheetData::Row out{static_cast<int>(r + 1), 1, {}};
        for (unsigned short col = 0; col < cols; ++col) {
            FreeXL_CellValue cell;
            if (freexl_get_cell_value(handle, r, col, &cell) != FREEXL_OK)
                continue;
            CellValue value;
            switch (cell.type) {
            case FREEXL_CELL_INT: value = CellValue::fromNumber(cell.value.int_value); break;
            case FREEXL_CELL_DOUBLE: value = CellValue::fromNumber(cell.value.double_value); break;
            case FREEXL_CELL_TEXT:
            case FREEXL_CELL_SST_TEXT: value = CellValue::fromText(QString::fromUtf8(cell.value.text_value)); break;
            case FREEXL_CELL_DATE:
            case FREEXL_CELL_DATETIME:
            case FREEXL_CELL_TIME:
                if (const auto serial = isoDateSerial(cell.value.text_value))
                    value = CellValue::fromDateTime(*serial);
                else
                    value = CellValue::fromText(QString::fromUtf8(cell.value.text_value));
                break;
            default: break;
            }
            budget.add(value, 1, 1, static_cast<int>(r + 1), col + 1);
            if (!value.isEmpty())
                out.cells.push_back({col + 1, 1, std::move(value)});
        }
        if (!out.cells.empty())
            data.rows.push_back(std::move(out));
    }
    c.data = std::move(data);
    c.format = WorkbookFormat::Xls;
}

} // namespace

SheetData &WorkbookContext::sheet()
{
    if (!data)
        data = xlsxSheetData(*this);
    return *data;
}

std::shared_ptr<WorkbookContext> openWorkbook(const QString &fileName, std::size_t maxUnpacked)
{
    auto c = std::make_shared<WorkbookContext>();
    c->fileName = fileName;
    QFile file(fileName);
    if (!QFileInfo(fileName).isFile() || !file.open(QIODevice::ReadOnly))
        throw WorkbookError(QStringLiteral("Die Datei %1 wurde nicht gefunden oder kann nicht gelesen werden.")
                                .arg(quoted(fileName)));
    const QByteArray magic = file.read(8);
    file.close();
    if (magic.startsWith("PK\x03\x04") || magic.startsWith("PK\x05\x06")) {
        auto zip = std::make_unique<ZipReader>(fileName, fileName, maxUnpacked);
        if (zip->contains("content.xml") && !zip->contains("[Content_Types].xml"))
            openOds(*c, *zip);
        else if (zip->contains("[Content_Types].xml") || zip->contains("_rels/.rels"))
            openXlsx(*c, std::move(zip));
        else
            notAWorkbook(fileName);
        return c;
    }
    if (magic == QByteArray("\xd0\xcf\x11\xe0\xa1\xb1\x1a\xe1", 8)) {
        openXls(*c, fileName);
        return c;
    }
    notAWorkbook(fileName);
}

void ensurePackage(WorkbookContext &c)
{
    if (!c.packagePending)
        return;
    auto zip = std::make_unique<ZipReader>(c.fileName, c.fileName, c.maxUnpacked);
    c.packagePending = false;
    openXlsx(c, std::move(zip));
}

std::shared_ptr<WorkbookContext> readWorkbook(const QString &fileName, std::size_t maxUnpacked, OpenFor purpose)
{
    auto c = openWorkbook(fileName, maxUnpacked);
    if (purpose == OpenFor::Writing && c->format == WorkbookFormat::Xlsx)
        prepareSheetForWriting(*c);
    c->sheet();
    return c;
}

} // namespace platform
