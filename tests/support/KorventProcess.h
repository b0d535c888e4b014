#ifndef TESTS_SUPPORT_KORVENTPROCESS_H
#define TESTS_SUPPORT_KORVENTPROCESS_H

#include "ChildProcess.h"

#include <chrono>
#include <memory>
#include <string>
#include <vector>

// Runs the real KorventComp with loopback settings, logging at WARN, and
// the given extra command-line arguments (which win).
std::unique_ptr<ChildProcess> startKorventComp(const std::string& nameServerAddress,
                                               const std::vector<std::string>& extraArgs = {});

// The name the component binds in the name service.
std::string korventName();

class NameServer;
// Waits until the component's name is bound on `names`; false on timeout.
bool waitForKorventName(const NameServer& names, std::chrono::milliseconds timeout = std::chrono::seconds(20));

#endif // TESTS_SUPPORT_KORVENTPROCESS_H
