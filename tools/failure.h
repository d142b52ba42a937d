// How the tool reports a problem with one input or output: a message for
// the user, thrown to where the command can print it and go on.
#pragma once

#include <string>

namespace mpfix::tool {

struct Failure {
    std::string message;
};

[[noreturn]] inline void fail(const std::string &message) { throw Failure{message}; }

}  // namespace mpfix::tool
