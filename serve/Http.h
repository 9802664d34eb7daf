// The HTTP side of pagesnap-serve: routes, authentication, limits and the answers.
#pragma once

#include "serve/ServeOptions.h"

#include <atomic>
#include <string>

namespace httplib {
class Server;
}

namespace serve {

class Converter;
class Metrics;

struct HttpSetup {
    ServeOptions opts;
    std::string token;          // empty: no authentication
    std::string tempDir;        // the service's private folder; requests get r-XXXXXX in it
    std::string engineProblem;  // why no engine can start; empty when nothing stops one
    std::atomic<bool> draining{false};
};

// Routes and limits of the server; the setup, converter and metrics outlive it.
void SetUpServer(httplib::Server& server, HttpSetup& setup, Converter& converter, Metrics& metrics);

// From now on no conversion is taken (503) and /readyz says not ready.
inline void BeginDraining(HttpSetup& setup) { setup.draining = true; }

}  // namespace serve
