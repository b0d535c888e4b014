#ifndef TOOLS_CHANGELINE_H
#define TOOLS_CHANGELINE_H

#include <korvent/Client.h>

#include <string>

// "version V, W x H, N bytes, CRC xxxxxxxx, stored <UTC time>": one line
// for `korvent-map watch`.
std::string describeChange(const korvent::MapChange& change);

#endif // TOOLS_CHANGELINE_H
