#include "KorventMapTool.h"

#include "ChildProcess.h"
#include "KorventProcess.h"

#include <algorithm>
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

ToolOutcome runKorventMapWith(const std::vector<std::string>& args, const std::vector<std::string>& launcher)
{
  std::vector<std::string> argv = launcher;
  argv.push_back(KORVENT_MAP_PATH);
  argv.insert(argv.end(), args.begin(), args.end());
  ChildProcess tool(argv);
  ToolOutcome outcome;
  outcome.status = tool.wait(std::chrono::minutes(2)).value_or(-1);
  outcome.out = tool.remainingOutput();
  outcome.err = tool.errorOutput();
  return outcome;
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
