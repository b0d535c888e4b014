#ifndef TOOLS_CHANGEWATCH_H
#define TOOLS_CHANGEWATCH_H

#include "KorventConnection.h"

#include <csignal>
#include <string>

// `korvent-map watch`: one line per change on standard output until
// `interrupted` is set; with `file`, a copy of the map kept in it, fetching
// only what each change touched.  A lost change connection is made again
// by the client library; the watch then says once on standard error what
// it missed.  A failed fetch is reported once and retried until it works.
void watchChanges(KorventConnection& korvent, const std::string& file, volatile std::sig_atomic_t& interrupted);

#endif // TOOLS_CHANGEWATCH_H
