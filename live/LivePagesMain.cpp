// Writes the live view's pages as static files for a web server in front of the stands:
//
//   zielkron-live-pages FOLDER
//
// index.html ("/"), anzeige.html ("/anzeige") and veranstaltung.html ("/veranstaltung"), without a
// first state: a page served this way shows the desk as soon as its event stream has connected,
// and the fan-out hands every new stream the newest heat and meeting at once.

#include "LivePages.h"

#include <cstdio>
#include <fstream>
#include <string>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "Aufruf: zielkron-live-pages ORDNER\n");
        return 2;
    }
    const std::string folder = argv[1];
    const struct {
        live::Page page;
        const char *file;
    } pages[] = {{live::Page::Heat, "index.html"}, {live::Page::Board, "anzeige.html"},
                 {live::Page::Meeting, "veranstaltung.html"}};
    for (const auto &p : pages) {
        const std::string path = folder + "/" + p.file;
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out << live::PageHtml(p.page, "null");
        out.close();
        if (!out) {
            std::fprintf(stderr, "zielkron-live-pages: %s kann nicht geschrieben werden\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
