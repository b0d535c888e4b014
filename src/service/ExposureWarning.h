#ifndef EXPOSUREWARNING_H
#define EXPOSUREWARNING_H

#include <string>
#include <vector>

// Logs one warning when any of `addresses` ("host:port") is reachable from
// other machines: "anyone who can reach these addresses can <risk> (<remedy>)".
void warnWhenExposed(const std::vector<std::string>& addresses, const std::string& risk, const std::string& remedy);

#endif // EXPOSUREWARNING_H
