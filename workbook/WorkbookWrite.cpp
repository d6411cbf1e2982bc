// Writing workbooks: a new .xlsx package, the bulk write into the first sheet's XML, and saving the
// package into a temporary file beside the target that is then renamed over it.

#include "WorkbookParts.h"

#include "AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <zip.h>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

const char *const ContentTypesXml =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">)"
    R"(<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>)"
    R"(<Default Extension="xml" ContentType="application/xml"/>)"
    R"(<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>)"
    R"(<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>)"
    R"(<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/>)"
    R"(</Types>)";

const char *const RootRelsXml =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/officeDocument" Target="xl/workbook.xml"/>)"
    R"(</Relationships>)";

const char *const WorkbookXml =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<workbook xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
    R"(<sheets><sheet name="Tabelle1" sheetId="1" r:id="rId1"/></sheets></workbook>)";

const char *const WorkbookRelsXml =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">)"
    R"(<Relationship Id="rId1" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet" Target="worksheets/sheet1.xml"/>)"
    R"(<Relationship Id="rId2" Type="http://schemas.openxmlformats.org/officeDocument/2006/relationships/styles" Target="styles.xml"/>)"
    R"(</Relationships>)";

const char *const StylesXml =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<styleSheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main">)"
    R"(<fonts count="1"><font><sz val="11"/><name val="Calibri"/><family val="2"/></font></fonts>)"
    R"(<fills count="2"><fill><patternFill patternType="none"/></fill><fill><patternFill patternType="gray125"/></fill></fills>)"
    R"(<borders count="1"><border><left/><right/><top/><bottom/><diagonal/></border></borders>)"
    R"(<cellStyleXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0"/></cellStyleXfs>)"
    R"(<cellXfs count="1"><xf numFmtId="0" fontId="0" fillId="0" borderId="0" xfId="0"/></cellXfs>)"
    R"(<cellStyles count="1"><cellStyle name="Standard" xfId="0" builtinId="0"/></cellStyles>)"
    R"(</styleSheet>)";

const char *const SheetXml =
    R"(<?xml version="1.0" encoding="UTF-8" standalone="yes"?>)"
    "\n"
    R"(<worksheet xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main" )"
    R"(xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">)"
    R"(<dimension ref="A1"/><sheetData/></worksheet>)";

// The element name of a child in the namespace prefix of its parent ("x:row" under "x:sheetData").
std::string qualified(const pugi::xml_node &parent, const char *local)
{
    const char *name = parent.name();
    const char *colon = std::strchr(name, ':');
    return colon ? std::string(name, static_cast<std::size_t>(colon - name + 1)) + local : std::string(local);
}

int rowNumber(const pugi::xml_node &row)
{
    return static_cast<int>(std::clamp<long long>(row.attribute("r").as_llong(0), 0, MaxSheetRows + 1LL));
}
int colNumber(const pugi::xml_node &cell) { return parseCellReference(cell.attribute("r").value()).first; }

// Gives every row and cell its reference, so that the write can find them by number.
void numberRowsAndCells(const pugi::xml_node &sheetData)
{
    int rowIndex = 0;
    for (pugi::xml_node row = sheetData.first_child(); row; row = row.next_sibling()) {
        if (!xml::is(row, "row"))
            continue;
        if (row.attribute("r"))
            rowIndex = static_cast<int>(std::clamp<long long>(row.attribute("r").as_llong(0), 0, MaxSheetRows + 1LL));
        else
            row.append_attribute("r") = ++rowIndex;
        int col = 0;
        for (pugi::xml_node cell = row.first_child(); cell; cell = cell.next_sibling()) {
            if (!xml::is(cell, "c"))
                continue;
            if (cell.attribute("r"))
                col = parseCellReference(cell.attribute("r").value()).first;
            else
                cell.append_attribute("r") = cellReference(rowIndex, ++col).c_str();
        }
    }
}

[[noreturn]] void badReference(const WorkbookContext &c, const QString &what)
{
    throw WorkbookError(QStringLiteral("In die Arbeitsmappe \"%1\" kann nicht geschrieben werden: ihr erstes "
                                       "Tabellenblatt hat %2.")
                            .arg(c.fileName, what));
}

// The write finds rows and cells by their numbers, walking forward; the reader takes every row and
// cell in file order, a later one over an earlier. Both mean the same only while rows and cells
// ascend, each once, and every cell's reference names its own row: anything else is refused, so
// that a write never goes where the reader would not look.
void checkReferences(const WorkbookContext &c, const pugi::xml_node &sheetData)
{
    long long lastRow = 0;
    for (pugi::xml_node row = sheetData.first_child(); row; row = row.next_sibling()) {
        if (!xml::is(row, "row"))
            continue;
        const long long r = row.attribute("r").as_llong(0);
        if (r < 1 || r > MaxSheetRows)
            badReference(c, QStringLiteral("eine ungültige Zeilennummer \"%1\"").arg(QString::fromUtf8(row.attribute("r").value())));
        if (r <= lastRow)
            badReference(c, QStringLiteral("die Zeile %1 doppelt oder außer der Reihe").arg(r));
        lastRow = r;
        int lastCol = 0;
        for (pugi::xml_node cell = row.first_child(); cell; cell = cell.next_sibling()) {
            if (!xml::is(cell, "c"))
                continue;
            const char *ref = cell.attribute("r").value();
            const auto [col, cellRow] = parseCellReference(ref);
            if (col < 1 || cellRow != r)
                badReference(c, QStringLiteral("in Zeile %1 einen ungültigen Zellbezug \"%2\"").arg(r).arg(QString::fromUtf8(ref)));
            if (col <= lastCol)
                badReference(c, QStringLiteral("die Zelle %1 doppelt oder außer der Reihe").arg(QString::fromUtf8(ref)));
            lastCol = col;
        }
    }
}

pugi::xml_node nextElement(pugi::xml_node node, const char *local)
{
    while (node && !xml::is(node, local))
        node = node.next_sibling();
    return node;
}

// Clears a cell's content; its style stays. A shared formula that other cells follow is noted.
void clearCell(pugi::xml_node cell, std::set<std::string> &removedSharedFormulas)
{
    cell.remove_attribute("t");
    for (pugi::xml_node n = cell.first_child(); n;) {
        const pugi::xml_node next = n.next_sibling();
        if (xml::is(n, "f") && std::strcmp(n.attribute("t").value(), "shared") == 0 && n.attribute("ref"))
            removedSharedFormulas.insert(n.attribute("si").value());
        if (!xml::is(n, "extLst"))
            cell.remove_child(n);
        n = next;
    }
}

void setText(pugi::xml_node cell, const QString &text, std::set<std::string> &removedSharedFormulas)
{
    clearCell(cell, removedSharedFormulas);
    cell.append_attribute("t") = "inlineStr";
    pugi::xml_node is = cell.prepend_child(qualified(cell, "is").c_str());
    pugi::xml_node t = is.append_child(qualified(cell, "t").c_str());
    const std::string encoded = encodeOoxmlText(text);
    if (!encoded.empty() && (encoded.front() == ' ' || encoded.back() == ' ' || encoded.find_first_of("\t\n") != std::string::npos
                             || encoded.find("  ") != std::string::npos))
        t.append_attribute("xml:space") = "preserve";
    t.text().set(encoded.c_str());
}

std::string valueText(const CellValue &value)
{
    return cellText(value, QLocale::c()).toStdString();
}

// Cells that followed a shared formula whose master was overwritten keep their last value.
void detachSharedFormulas(const pugi::xml_node &sheetData, const std::set<std::string> &removed)
{
    if (removed.empty())
        return;
    for (pugi::xml_node row = sheetData.first_child(); row; row = row.next_sibling())
        for (pugi::xml_node cell = row.first_child(); cell; cell = cell.next_sibling()) {
            const pugi::xml_node f = xml::child(cell, "f");
            if (f && std::strcmp(f.attribute("t").value(), "shared") == 0 && removed.count(f.attribute("si").value()))
                cell.remove_child(f);
        }
}

void widenDimension(const pugi::xml_node &worksheet, int lastRow, int lastCol)
{
    pugi::xml_attribute ref = xml::child(worksheet, "dimension").attribute("ref");
    if (!ref)
        return;
    const std::string old = ref.value();
    const std::size_t colon = old.find(':');
    const auto last = parseCellReference((colon == std::string::npos ? old : old.substr(colon + 1)).c_str());
    const int row = std::max(last.second, lastRow);
    const int col = std::max(last.first, lastCol);
    ref.set_value(("A1:" + cellReference(row, col)).c_str());
}

void setPart(WorkbookContext &c, const std::string &name, std::string content)
{
    for (auto &part : c.parts)
        if (part.first == name) {
            part.second = std::move(content);
            return;
        }
    c.parts.emplace_back(name, std::move(content));
}

std::optional<std::string> currentPart(const WorkbookContext &c, const std::string &name)
{
    for (const auto &part : c.parts)
        if (part.first == name)
            return part.second;
    if (c.source && !c.dropped.count(name))
        return c.source->read(name);
    return std::nullopt;
}

// The formula chain lists formula cells in calculation order; after a write it may name cells that
// no longer hold a formula, which office suites report as damage. Without it they rebuild it.
void dropCalcChain(WorkbookContext &c)
{
    const auto relsText = currentPart(c, c.workbookRelsPath);
    if (!relsText)
        return;
    pugi::xml_document rels;
    xml::parse(rels, *relsText, c.fileName, c.workbookRelsPath);
    pugi::xml_node root = xml::child(rels, "Relationships");
    bool changed = false;
    std::string dir = c.workbookPath.substr(0, c.workbookPath.rfind('/') + 1);
    for (pugi::xml_node r = root.first_child(); r;) {
        const pugi::xml_node next = r.next_sibling();
        const std::string type = r.attribute("Type").value();
        if (xml::is(r, "Relationship") && type.size() >= 10 && type.compare(type.size() - 10, 10, "/calcChain") == 0) {
            std::string target = r.attribute("Target").value();
            target = target.rfind('/', 0) == 0 ? target.substr(1) : dir + target;
            c.dropped.insert(target);
            root.remove_child(r);
            changed = true;
        }
        r = next;
    }
    if (!changed)
        return;
    setPart(c, c.workbookRelsPath, xml::serialize(rels));
    if (const auto typesText = currentPart(c, "[Content_Types].xml")) {
        pugi::xml_document types;
        xml::parse(types, *typesText, c.fileName, "[Content_Types].xml");
        pugi::xml_node typesRoot = xml::child(types, "Types");
        for (pugi::xml_node o = typesRoot.first_child(); o;) {
            const pugi::xml_node next = o.next_sibling();
            const std::string part = o.attribute("PartName").value();
            if (xml::is(o, "Override") && c.dropped.count(part.rfind('/', 0) == 0 ? part.substr(1) : part))
                typesRoot.remove_child(o);
            o = next;
        }
        setPart(c, "[Content_Types].xml", xml::serialize(types));
    }
}

[[noreturn]] void writeFailed(const QString &file, const QString &detail)
{
    throw WorkbookError(QStringLiteral("Die Arbeitsmappe \"%1\" kann nicht geschrieben werden: %2").arg(file, detail));
}

} // namespace

std::shared_ptr<WorkbookContext> newWorkbook()
{
    auto c = std::make_shared<WorkbookContext>();
    c->format = WorkbookFormat::New;
    c->parts = {{"[Content_Types].xml", ContentTypesXml},
                {"_rels/.rels", RootRelsXml},
                {"xl/workbook.xml", WorkbookXml},
                {"xl/_rels/workbook.xml.rels", WorkbookRelsXml},
                {"xl/styles.xml", StylesXml}};
    xml::parse(c->sheetXml, SheetXml, QString(), c->sheetPath);
    c->sheetChanged = true;
    c->dateStyles = {0};
    return c;
}

void prepareSheetForWriting(WorkbookContext &c)
{
    ensurePackage(c);
    if (c.format != WorkbookFormat::Xlsx && c.format != WorkbookFormat::New)
        throw WorkbookError(QStringLiteral("Die Arbeitsmappe \"%1\" kann nur gelesen werden.").arg(c.fileName));
    const pugi::xml_node sheetData = xml::child(xml::child(c.sheetXml, "worksheet"), "sheetData");
    numberRowsAndCells(sheetData);
    checkReferences(c, sheetData);
}

void writeSheetBlock(WorkbookContext &c, CellRef from, CellRef to, const CellBlock &values)
{
    prepareSheetForWriting(c);
    const int r1 = std::max(1, std::min(from.row, to.row));
    const int r2 = std::min(MaxSheetRows, std::max(from.row, to.row));
    const int c1 = std::max(1, std::min(from.col, to.col));
    const int c2 = std::min(MaxSheetCols, std::max(from.col, to.col));
    const pugi::xml_node worksheet = xml::child(c.sheetXml, "worksheet");
    pugi::xml_node sheetData = xml::child(worksheet, "sheetData");
    std::set<std::string> removedShared;
    const std::string rowName = qualified(sheetData, "row");
    const std::string cellName = qualified(sheetData, "c");

    pugi::xml_node row = nextElement(sheetData.first_child(), "row");
    for (int r = r1; r <= r2; ++r) {
        while (row && rowNumber(row) < r)
            row = nextElement(row.next_sibling(), "row");
        bool anyValue = false;
        for (int col = c1; col <= c2 && !anyValue; ++col)
            anyValue = !values.at(r - r1 + 1, col - c1 + 1).isEmpty();
        if (!row || rowNumber(row) != r) {
            if (!anyValue)
                continue; // nothing to clear in a row that does not exist
            pugi::xml_node created = row ? sheetData.insert_child_before(rowName.c_str(), row)
                                         : sheetData.append_child(rowName.c_str());
            created.append_attribute("r") = r;
            row = created;
        }
        row.remove_attribute("spans");
        pugi::xml_node cell = nextElement(row.first_child(), "c");
        for (int col = c1; col <= c2; ++col) {
            while (cell && colNumber(cell) < col)
                cell = nextElement(cell.next_sibling(), "c");
            const CellValue &value = values.at(r - r1 + 1, col - c1 + 1);
            const bool exists = cell && colNumber(cell) == col;
            if (value.isEmpty()) {
                if (exists)
                    clearCell(cell, removedShared);
                continue;
            }
            pugi::xml_node target = cell;
            if (!exists) {
                target = cell ? row.insert_child_before(cellName.c_str(), cell) : row.append_child(cellName.c_str());
                target.append_attribute("r") = cellReference(r, col).c_str();
            }
            switch (value.type) {
            case CellValue::Type::Number:
            case CellValue::Type::DateTime: {
                clearCell(target, removedShared);
                char buf[32];
                std::snprintf(buf, sizeof buf, "%.17g", value.number);
                target.append_child(qualified(target, "v").c_str()).text().set(buf);
                break;
            }
            case CellValue::Type::Boolean:
                clearCell(target, removedShared);
                target.append_attribute("t") = "b";
                target.append_child(qualified(target, "v").c_str()).text().set(value.number != 0 ? "1" : "0");
                break;
            case CellValue::Type::Text:
                setText(target, value.text, removedShared);
                break;
            default:
                setText(target, QString::fromStdString(valueText(value)), removedShared);
                break;
            }
            cell = target;
        }
    }
    detachSharedFormulas(sheetData, removedShared);
    widenDimension(worksheet, r2, c2);
    c.sheetChanged = true;
    c.data.reset();
}

void saveWorkbook(WorkbookContext &c, const QString &fileName, FileCalls &files)
{
    if (fileName.isEmpty())
        writeFailed(fileName, QStringLiteral("kein Dateiname"));
    ensurePackage(c);
    const QString suffix = QFileInfo(fileName).suffix().toLower();
    if (suffix == QLatin1String("xls") || suffix == QLatin1String("ods"))
        writeFailed(fileName, QStringLiteral("dieses Format kann nur gelesen werden; bitte .xlsx wählen"));
    if (c.sheetChanged)
        setPart(c, c.sheetPath, xml::serialize(c.sheetXml));
    dropCalcChain(c);

    // The new file keeps the permissions of the one it replaces; a new one gets the usual ones.
    ReplacementFile temp(fileName, FileMode::AsBefore, files);
    if (!temp.close())
        writeFailed(fileName, temp.error());
    const QString tempName = temp.path();

    int error = 0;
    zip_t *out = zip_open(QFile::encodeName(tempName).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!out)
        writeFailed(fileName, QStringLiteral("Fehler %1").arg(error));
    auto fail = [&](const QString &detail) {
        const QString text = QString::fromLocal8Bit(zip_error_strerror(zip_get_error(out)));
        zip_discard(out);
        writeFailed(fileName, detail + QStringLiteral(" (") + text + QLatin1Char(')'));
    };
    auto addBuffer = [&](const std::string &name, const std::string &content) {
        zip_source_t *src = zip_source_buffer(out, content.data(), content.size(), 0);
        if (!src)
            fail(QString::fromStdString(name));
        const zip_int64_t index = zip_file_add(out, name.c_str(), src, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            zip_source_free(src);
            fail(QString::fromStdString(name));
        }
        zip_set_file_compression(out, static_cast<zip_uint64_t>(index), ZIP_CM_DEFLATE, 6);
    };
    std::set<std::string> written;
    if (c.source) {
        const std::vector<std::string> names = c.source->names();
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string &name = names[i];
            if (c.dropped.count(name) || !written.insert(name).second)
                continue;
            const auto replaced = std::find_if(c.parts.begin(), c.parts.end(), [&](const auto &p) { return p.first == name; });
            if (replaced != c.parts.end()) {
                addBuffer(name, replaced->second);
                continue;
            }
            zip_source_t *src = zip_source_zip(out, c.source->handle(), i, 0, 0, -1);
            if (!src)
                fail(QString::fromStdString(name));
            if (zip_file_add(out, name.c_str(), src, ZIP_FL_ENC_UTF_8) < 0) {
                zip_source_free(src);
                fail(QString::fromStdString(name));
            }
        }
    }
    for (const auto &[name, content] : c.parts)
        if (!c.dropped.count(name) && written.insert(name).second)
            addBuffer(name, content);
    if (zip_close(out) != 0)
        fail(QStringLiteral("Schreiben"));
    // On the disk before it replaces the old file, as the journal: a power cut never leaves an
    // empty workbook.
    if (!temp.commit())
        writeFailed(fileName, temp.error());
}

} // namespace platform
