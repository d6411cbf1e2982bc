#!/usr/bin/env python3
"""Makes the seed corpora of the fuzz harnesses (tests/fuzz/corpus/NAME) from the office-suite
workbooks of tests/data and from hand-built hostile files, each of which once ended, froze or
misled the desk. Run from anywhere; the reader_answer seeds are made by the reader program of a
build (its path as the first argument, e.g. build/zielkron-workbook-reader)."""
import os, subprocess, sys, zipfile, io

here = os.path.dirname(os.path.abspath(__file__))
data = os.path.join(here, '..', 'data')
corpus = os.path.join(here, 'corpus')

def put(harness, name, content):
    os.makedirs(os.path.join(corpus, harness), exist_ok=True)
    with open(os.path.join(corpus, harness, name), 'wb') as f:
        f.write(content if isinstance(content, bytes) else content.encode())

def parts(path, names):
    z = zipfile.ZipFile(path)
    return b'\0'.join(z.read(n) if n in z.namelist() else b'' for n in names)

def zipped(files, method=zipfile.ZIP_DEFLATED):
    out = io.BytesIO()
    with zipfile.ZipFile(out, 'w', method, compresslevel=9 if method == zipfile.ZIP_DEFLATED else None) as z:
        for name, content in files:
            z.writestr(zipfile.ZipInfo(name, (2027, 5, 14, 10, 30, 0)), content, method)
    return out.getvalue()

XLSX = ['xl/worksheets/sheet1.xml', 'xl/sharedStrings.xml', 'xl/styles.xml', 'xl/workbook.xml']
NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
ODS = ('<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
       'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
       'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"><office:body><office:spreadsheet>'
       '<table:table>%s</table:table></office:spreadsheet></office:body></office:document-content>')

def ods(rows, method=zipfile.ZIP_DEFLATED):
    return zipped([('mimetype', 'application/vnd.oasis.opendocument.spreadsheet'), ('content.xml', ODS % rows)], method)

def xlsx(sheet, strings):
    rel = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
    return zipped([
        ('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types"/>'),
        ('_rels/.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
         '<Relationship Id="rId1" Type="%s/officeDocument" Target="xl/workbook.xml"/></Relationships>' % rel),
        ('xl/workbook.xml', '<workbook %s xmlns:r="%s"><sheets><sheet name="L" sheetId="1" r:id="rId1"/></sheets>'
         '</workbook>' % (NS, rel)),
        ('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
         '<Relationship Id="rId1" Type="%s/worksheet" Target="worksheets/sheet1.xml"/>'
         '<Relationship Id="rId2" Type="%s/sharedStrings" Target="sharedStrings.xml"/></Relationships>' % (rel, rel)),
        ('xl/worksheets/sheet1.xml', sheet), ('xl/sharedStrings.xml', strings)])

def cell(text):
    return '<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>' % text

# Office-suite files, as parts and whole.
for name in ['start.xlsx', 'keep.xlsx']:
    put('xlsx', name + '.parts', parts(os.path.join(data, name), XLSX))
    put('xlsx', name, open(os.path.join(data, name), 'rb').read())
    put('export_target', name + '.parts', parts(os.path.join(data, name), XLSX))
    put('export_target', name, open(os.path.join(data, name), 'rb').read())
put('ods', 'start.content.xml', zipfile.ZipFile(os.path.join(data, 'start.ods')).read('content.xml'))
put('ods', 'start.ods', open(os.path.join(data, 'start.ods'), 'rb').read())
put('xls', 'start.xls', open(os.path.join(data, 'start.xls'), 'rb').read())

# Hostile files: nesting that overflowed the stack, texts that expanded after every limit (or were
# cut short without a word), repeat counts that overflowed, a time of day read differently,
# references the writer misread.
# (The nesting of the files found was far deeper; the tests make those. Stored, since the limit on
# the packing ratio would refuse them before they are read.)
put('ods', 'nested-spans.ods', ods('<table:table-row><table:table-cell office:value-type="string"><text:p>'
                                   + '<text:span>' * 1000 + 'x' + '</text:span>' * 1000
                                   + '</text:p></table:table-cell></table:table-row>', zipfile.ZIP_STORED))
put('ods', 'nested-row-groups.ods', ods('<table:table-row-group>' * 500 + '<table:table-row>' + cell('x')
                                        + '</table:table-row>' + '</table:table-row-group>' * 500, zipfile.ZIP_STORED))
put('ods', 'repeated-spaces.ods', ods('<table:table-row>' + cell('<text:s text:c="1000"/>' * 1500)
                                      + '</table:table-row>', zipfile.ZIP_STORED))
put('ods', 'space-markers-beyond-a-cell.ods', ods('<table:table-row>' + cell('<text:s text:c="69000000"/>' * 30 + 'ab')
                                                 + '</table:table-row>', zipfile.ZIP_STORED))
put('ods', 'repeat-overflow.ods', ods(
    '<table:table-row table:number-rows-repeated="9223372036854775807">'
    '<table:table-cell table:number-columns-repeated="9223372036854775807"/>' + cell('a') + '</table:table-row>'
    '<table:table-row>' + cell('b') + '</table:table-row>'))
put('xlsx', 'shared-string-everywhere.xlsx', xlsx(
    '<worksheet %s><sheetData>' % NS
    + ''.join('<row r="%d"><c r="A%d" t="s"><v>0</v></c></row>' % (r, r) for r in range(1, 8001))
    + '</sheetData></worksheet>', '<sst %s><si><t>' % NS + 'x' * 1000000 + '</t></si></sst>'))
put('xlsx', 'time-of-day-1904.parts',
    '<worksheet %s><sheetData><row r="1"><c r="A1" s="1"><v>0.4375</v></c><c r="B1" s="1"><v>1.4375</v></c></row>'
    '</sheetData></worksheet>\0\0<styleSheet %s><cellXfs><xf numFmtId="0"/><xf numFmtId="20"/></cellXfs></styleSheet>'
    '\0<workbook %s xmlns:r="http://schemas.openxmlformats.org/officeDocument/2006/relationships">'
    '<workbookPr date1904="1"/><sheets><sheet name="L" sheetId="1" r:id="rId1"/></sheets></workbook>' % (NS, NS, NS))
put('export_target', 'duplicated-row.parts',
    '<worksheet %s><sheetData><row r="1"><c r="A1" t="inlineStr"><is><t>neu</t></is></c></row>'
    '<row r="1"><c r="A1" t="inlineStr"><is><t>alt</t></is></c></row></sheetData></worksheet>' % NS)
put('export_target', 'reference-without-row.parts',
    '<worksheet %s><sheetData><row r="1"><c r="B1"><v>2</v></c><c r="A"><v>1</v></c></row></sheetData></worksheet>' % NS)
put('export_target', 'references-missing.parts',
    '<worksheet %s><sheetData><row><c><v>1</v></c><c t="inlineStr"><is><t>b</t></is></c></row><row r="7"><c><v>7</v></c></row>'
    '</sheetData></worksheet>' % NS)

# Journals (bodies; the harness adds the header) and text start lists.
put('journal', 'meeting.body', 'title\tKreismeisterschaften \\t Łódź\ndate\t14.05.2027\nwritten\t2027-05-14T10:30:00.000\n'
    'lanes\t8\nlastHeat\t2\nheats\t1,2\nrowCount\t20\ncolCount\t7\ncell\t0\t0\tKreismeisterschaften\n'
    'cell\t3\t2\tJürgen Groß\\nzweite Zeile\ncell\t3\t5\t10,23\n')
put('text_list', 'start-utf8.txt', 'Kreismeisterschaften\r\n14.05.2027\r\n1\t\t100 m Hürden\tMänner U20\r\n1.\t205\tJürgen Groß\t\tLG Nord\r\n')
put('text_list', 'start-1252.txt', 'Kreismeisterschaften\r\n1;;Anna M\xfcller;;TV\r\n2;7;Zo\xeb\r'.encode('latin-1'))

# Requests to the live view's server.
for name, request in [('page', 'GET / HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n'),
                      ('state', 'GET /api/state HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n'),
                      ('events', 'GET /events HTTP/1.1\r\nHost: x\r\nAccept: text/event-stream\r\n\r\n'),
                      ('board', 'GET /anzeige?x=%20%zz HTTP/1.0\r\n\r\n'),
                      ('post', 'POST /api/state HTTP/1.1\r\nContent-Length: 5\r\nTransfer-Encoding: chunked\r\n\r\n0\r\n\r\n'),
                      ('range', 'GET /veranstaltung HTTP/1.1\r\nRange: bytes=0-1,5-2,-3\r\n\r\nGET / HTTP/1.1\r\n\r\n')]:
    put('live_server', name + '.http', request)

# An answer of a reader program whose one row claims 4,294,967,295 cells in 31 bytes.
put('reader_answer', 'cells-beyond-the-bytes.answer',
    b'ZKWB1\nF\x02R' + (1).to_bytes(4, 'little') * 2 + (0xFFFFFFFF).to_bytes(4, 'little') + b'\x01' * 10)

# What the reader program hands back for the office-suite files and for an error.
if len(sys.argv) > 1:
    for name in ['start.xlsx', 'start.ods', 'start.xls', 'keep.xlsx', 'missing.xlsx']:
        answer = subprocess.run([sys.argv[1], 'read', str(4 << 20), os.path.join(data, name)],
                                capture_output=True, check=True).stdout
        put('reader_answer', name + '.answer', answer)
