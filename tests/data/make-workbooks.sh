#!/bin/sh
# Makes the office-suite workbooks of the workbook tests: the sources below (flat OpenDocument XML)
# are converted by LibreOffice into .xlsx, .xls and .ods, so the tests read files as a real office
# suite writes them. Password-protected copies are saved through LibreOffice's scripting bridge
# (python3-uno). Run from anywhere; needs soffice (libreoffice-calc-nogui) and python3-uno.
#   start.*   a start list for 2 lanes: rows 1..12 filled, 13 empty, 14 filled; a date with a
#             custom format, a date-time, numbers, umlauts and characters outside Windows-1252
#   keep.xlsx a workbook with styles, a formula, cells beside and below the start-list block and
#             a second sheet, as an export target
#   locked.ods start.ods protected by the password "geheim"
set -eu
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
profile="-env:UserInstallation=file://$work/profile"

cell_s() { printf '<table:table-cell office:value-type="string"><text:p>%s</text:p></table:table-cell>' "$1"; }
cell_n() { printf '<table:table-cell office:value-type="float" office:value="%s"><text:p>%s</text:p></table:table-cell>' "$1" "$1"; }
empty() { printf '<table:table-cell/>'; }
row() { printf '<table:table-row>%s</table:table-row>\n' "$*"; }

head='<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0"
 xmlns:style="urn:oasis:names:tc:opendocument:xmlns:style:1.0"
 xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0"
 xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0"
 xmlns:fo="urn:oasis:names:tc:opendocument:xmlns:xsl-fo-compatible:1.0"
 xmlns:number="urn:oasis:names:tc:opendocument:xmlns:datastyle:1.0"
 xmlns:of="urn:oasis:names:tc:opendocument:xmlns:of:1.2"
 office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.spreadsheet">
<office:automatic-styles>
 <number:date-style style:name="N1"><number:month number:style="long" number:textual="true"/><number:text> </number:text><number:day/><number:text>, </number:text><number:year number:style="long"/></number:date-style>
 <number:date-style style:name="N2"><number:year number:style="long"/><number:text>/</number:text><number:month number:style="long"/><number:text>/</number:text><number:day number:style="long"/><number:text> </number:text><number:hours number:style="long"/><number:text>:</number:text><number:minutes number:style="long"/></number:date-style>
 <style:style style:name="ce1" style:family="table-cell" style:data-style-name="N1"/>
 <style:style style:name="ce2" style:family="table-cell" style:data-style-name="N2"/>
 <style:style style:name="ce3" style:family="table-cell"><style:text-properties fo:font-weight="bold"/></style:style>
</office:automatic-styles>
<office:body><office:spreadsheet>'
tail='</office:spreadsheet></office:body></office:document>'

{
    echo "$head"
    echo '<table:table table:name="Startliste">'
    row "$(cell_s 'Kreismeisterschaften Łódź 2027')"
    row '<table:table-cell table:style-name="ce1" office:value-type="date" office:date-value="2027-05-14"><text:p>May 14, 2027</text:p></table:table-cell>' \
        '<table:table-cell table:style-name="ce2" office:value-type="date" office:date-value="2027-05-14T10:30:00"><text:p>2027/05/14 10:30</text:p></table:table-cell>'
    row "$(cell_s 1)" "$(empty)" "$(cell_s '100 m Hürden')" "$(cell_s 'Männer U20')"
    row "$(cell_s 1.)" "$(cell_n 205)" "$(cell_s 'Jürgen Groß')" "$(empty)" "$(cell_s 'LG Nord – Süd')" "$(cell_n 12.5)"
    row "$(cell_s 2.)" "$(cell_n 17)" "$(cell_s 'Zoë Šťastná')" "$(empty)" "$(cell_s 'Ωmega ĞĦ 😀')"
    row "$(cell_s 2)" "$(empty)" "$(cell_s '200 m')" "$(cell_s 'Frauen')"
    row "$(cell_s 1.)" "$(cell_n 3)" "$(cell_s 'Anna Meyer')" "$(empty)" "$(empty)" "$(empty)" "$(cell_n 0.0000001)"
    row "$(cell_s 2.)" "$(cell_n -4.25)" "$(cell_s 'Ben Berg')"
    row "$(cell_s 3)" "$(empty)" "$(cell_s '400 m')"
    row "$(cell_s 1.)" "$(cell_n 7)" "$(cell_s '  Carla  Weiß ')"
    row "$(cell_s 2.)" "$(cell_n 8)" "$(cell_s 'Dora')"
    row "$(cell_s 4)" "$(empty)" "$(cell_s '800 m')"
    row "$(empty)" "$(cell_s 'not in the list')"
    row "$(cell_s 2.)" "$(cell_s 'after the gap')"
    echo '</table:table>'
    echo '<table:table table:name="Zweites Blatt">'
    row "$(cell_s 'Sheet two')"
    echo '</table:table>'
    echo "$tail"
} > "$work/start.fods"

{
    echo "$head"
    echo '<table:table table:name="Ergebnisse">'
    row '<table:table-cell table:style-name="ce3" office:value-type="string"><text:p>Alter Titel</text:p></table:table-cell>' \
        "$(empty)" "$(empty)" "$(empty)" "$(empty)" "$(empty)" "$(empty)" "$(cell_s 'H1 beside')"
    row "$(cell_n 1)" "$(cell_n 2)" '<table:table-cell table:formula="of:=[.A2]+[.B2]" office:value-type="float" office:value="3"><text:p>3</text:p></table:table-cell>'
    row "$(cell_s 'old row 3')" "$(empty)" "$(empty)" "$(empty)" "$(empty)" "$(empty)" "$(empty)" '<table:table-cell table:formula="of:=[.A2]*10" office:value-type="float" office:value="10"><text:p>10</text:p></table:table-cell>'
    printf '<table:table-row table:number-rows-repeated="26"><table:table-cell/></table:table-row>\n'
    row "$(cell_s 'A30 below')"
    echo '</table:table>'
    echo '<table:table table:name="Meldungen">'
    row "$(cell_s 'Second sheet')" "$(cell_n 42)"
    echo '</table:table>'
    echo "$tail"
} > "$work/keep.fods"

cd "$work"
soffice $profile --headless --convert-to xlsx start.fods >/dev/null
soffice $profile --headless --convert-to xls start.fods >/dev/null
soffice $profile --headless --convert-to ods start.fods >/dev/null
soffice $profile --headless --convert-to xlsx keep.fods >/dev/null
cp start.xlsx start.xls start.ods keep.xlsx "$here/"

# Password-protected copies, saved through the scripting bridge.
cat > "$work/lock.py" <<'PY'
import sys, time, uno
from com.sun.star.beans import PropertyValue
def prop(name, value):
    p = PropertyValue(); p.Name = name; p.Value = value; return p
local = uno.getComponentContext()
resolver = local.ServiceManager.createInstanceWithContext("com.sun.star.bridge.UnoUrlResolver", local)
for _ in range(100):
    try:
        ctx = resolver.resolve("uno:socket,host=localhost,port=2083;urp;StarOffice.ComponentContext"); break
    except Exception:
        time.sleep(0.2)
desktop = ctx.ServiceManager.createInstanceWithContext("com.sun.star.frame.Desktop", ctx)
src, = sys.argv[1:2]
doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(src), "_blank", 0, (prop("Hidden", True),))
# LibreOffice 7.4 stores a password only in its own format through this bridge.
for name, flt in (("locked.ods", "calc8"),):
    doc.storeToURL(uno.systemPathToFileUrl(sys.argv[2] + "/" + name), (prop("FilterName", flt), prop("Password", "geheim")))
doc.close(True)
try:
    desktop.terminate()
except Exception:
    pass
PY
soffice $profile --headless --invisible --norestore --accept="socket,host=localhost,port=2083;urp;" &
office=$!
/usr/bin/python3 "$work/lock.py" "$work/start.fods" "$here" || { kill $office; exit 1; }
sleep 2
kill $office 2>/dev/null || true
wait $office 2>/dev/null || true
ls -l "$here"/*.xlsx "$here"/*.xls "$here"/*.ods
