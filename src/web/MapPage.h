#ifndef MAPPAGE_H
#define MAPPAGE_H

#include <string_view>

// The web view's page (web/page.html), built into the program so that it
// needs no files and no other site.
std::string_view mapPage();

#endif // MAPPAGE_H
