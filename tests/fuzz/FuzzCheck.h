#ifndef TESTS_FUZZ_FUZZCHECK_H
#define TESTS_FUZZ_FUZZCHECK_H

#include <cstdio>
#include <cstdlib>
#include <string>

// A property that every input must keep.  A violation aborts, which
// libFuzzer reports as a crash and keeps the input for.
inline void fuzzRequire(bool holds, const char* what)
{
  if (!holds) {
    std::fprintf(stderr, "fuzz: %s\n", what);
    std::abort();
  }
}

// Errors reach the user as one line of the log or of standard error.
inline void fuzzRequireOneLine(const std::string& message)
{
  if (message.empty() || message.find_first_of("\r\n") != std::string::npos) {
    std::fprintf(stderr, "fuzz: error message not one line: '%s'\n", message.c_str());
    std::abort();
  }
}

#endif // TESTS_FUZZ_FUZZCHECK_H
