#include "KorventMapTool.h"

#include "ChildProcess.h"
#include "KorventProcess.h"

#include "TemporaryFolder.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/stat.h>
#include <sys/wait.h>

bool ToolOutcome::succeeded() const
{
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

bool ToolOutcome::failedWithOneLine() const
{
  return WIFEXITED(status) && WEXITSTATUS(status) == 1 &&
         std::count(err.begin(), err.end(), '\n') == 1 && err.rfind("korvent-map: ", 0) == 0;
}

ToolOutcome runKorventMap(const std::string& nameServer, const std::vector<std::string>& args)
{
  std::vector<std::string> all{"-n", nameServer, "-c", korventName()};
  all.insert(all.end(), args.begin(), args.end());
  return runKorventMapWith(all);
}

namespace
{
  ToolOutcome runTool(const std::string& tool, const std::vector<std::string>& args,
                      const std::vector<std::string>& launcher, const std::vector<std::string>& environment)
  {
    std::vector<std::string> argv = launcher;
    argv.push_back(tool);
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv, environment);
    ToolOutcome outcome;
    outcome.status = child.wait(std::chrono::minutes(2)).value_or(-1);
    outcome.out = child.remainingOutput();
    outcome.err = child.errorOutput();
    return outcome;
  }

  // `options` without its suppressions=<file> entry.
  std::string withoutSuppressions(const std::string& options)
  {
    std::istringstream entries(options);
    std::string kept, entry;
    while (entries >> entry)
      if (entry.rfind("suppressions=", 0) != 0)
        kept += (kept.empty() ? "" : " ") + entry;
    return kept;
  }
}

ToolOutcome runKorventMapWith(const std::vector<std::string>& args, const std::vector<std::string>& launcher)
{
  return runTool(KORVENT_MAP_PATH, args, launcher, {});
}

ToolOutcome runKorventMapAsNobody(const std::vector<std::string>& args, const TemporaryFolder& folder)
{
  const std::string copy = folder / "korvent-map";
  std::filesystem::copy_file(KORVENT_MAP_PATH, copy, std::filesystem::copy_options::overwrite_existing);
  chmod(copy.c_str(), 0755);
  std::vector<std::string> environment;
  if (const char* tsan = std::getenv("TSAN_OPTIONS"))
    environment.push_back("TSAN_OPTIONS=" + withoutSuppressions(tsan));
  return runTool(copy, args, {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--"},
                 environment);
}

bool korventBound(const NameServer& names)
{
  CORBA::Object_var object = names.resolve(korventName());
  try {
    return !CORBA::is_nil(object) && !object->_non_existent();
  }
  catch (const CORBA::Exception&) {
    return false;
  }
}
