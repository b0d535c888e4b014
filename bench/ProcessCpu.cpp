#include "ProcessCpu.h"

#include <dirent.h>
#include <fstream>
#include <string>

double cpuSeconds(pid_t pid)
{
  const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
  double total = 0.0;
  DIR* dir = opendir(tasks.c_str());
  if (!dir)
    return total;
  while (dirent* entry = readdir(dir)) {
    if (entry->d_name[0] == '.')
      continue;
    std::ifstream stat(tasks + "/" + entry->d_name + "/schedstat");
    unsigned long long runNs = 0;
    if (stat >> runNs)
      total += static_cast<double>(runNs) / 1e9;
  }
  closedir(dir);
  return total;
}
