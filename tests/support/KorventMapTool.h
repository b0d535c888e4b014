#ifndef TESTS_SUPPORT_KORVENTMAPTOOL_H
#define TESTS_SUPPORT_KORVENTMAPTOOL_H

#include "NameServer.h"

#include <string>
#include <vector>

// How a run of korvent-map ended.
class TemporaryFolder;

struct ToolOutcome
{
  int status = -1;  // raw wait status
  std::string out;
  std::string err;

  bool succeeded() const;
  // Exit status 1 and exactly one line on standard error, "korvent-map: ...".
  bool failedWithOneLine() const;
};

// Runs korvent-map against the name server at `nameServer` and the
// component name KorventComp binds, with `args` after those options.
ToolOutcome runKorventMap(const std::string& nameServer, const std::vector<std::string>& args);
// Runs korvent-map with exactly `args`, started through `launcher` (a
// command that runs the rest of its arguments, e.g. as another user) if given.
ToolOutcome runKorventMapWith(const std::vector<std::string>& args, const std::vector<std::string>& launcher = {});
// Runs a copy of korvent-map, placed in `folder`, as user nobody.  The
// build tree may lie in a home folder no other user can enter, so the copy
// is what runs, and the sanitizer's suppressions file is not named to it.
ToolOutcome runKorventMapAsNobody(const std::vector<std::string>& args, const TemporaryFolder& folder);

// Whether KorventComp's name is bound in `names` and its object answers.
bool korventBound(const NameServer& names);

#endif // TESTS_SUPPORT_KORVENTMAPTOOL_H
