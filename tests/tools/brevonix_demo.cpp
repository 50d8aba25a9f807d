// A local demo directory for trying the tool without a domain at hand: an unprivileged slapd on a
// loopback port with a few dozen users of a fictional company, TLS from a CA made for this run.
// Starts the directory, says what to type, runs the tool, and stops the directory when the tool
// closes.
//
//   brevonix_demo [path/to/brevonix]
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "support/slapd_fixture.h"

using brevonix::test::SlapdServer;

int main(int argc, char** argv) {
    std::string tool = argc > 1 ? argv[1] : "";
    if (tool.empty()) {
        const std::string self = argv[0];
        const auto slash = self.rfind('/');
        tool = (slash == std::string::npos ? std::string(".") : self.substr(0, slash)) + "/../brevonix";
    }

    std::string error;
    auto server = SlapdServer::Start({.userCount = 48}, error);
    if (!server) {
        std::fprintf(stderr, "The demo directory did not start: %s\n", error.c_str());
        return 1;
    }
    // The tool's TLS checks trust the demo's own CA (and only for this run).
    setenv("LDAPTLS_CACERT", server->CaFile().c_str(), 1);

    std::printf("\nDemo directory running on localhost:%d (%d users of Brevonix Test Ltd).\n"
                "In the window type:\n"
                "  Domain Name : localhost:%d\n"
                "  User        : %s\n"
                "  Password    : %s\n"
                "and press Generate. The directory stops when the window closes.\n\n",
                server->Port(), server->UserObjectCount(), server->Port(), SlapdServer::BindDn().c_str(),
                SlapdServer::BindPassword().c_str());
    std::fflush(stdout);

    const pid_t child = fork();
    if (child == 0) {
        execl(tool.c_str(), tool.c_str(), static_cast<char*>(nullptr));
        std::perror(tool.c_str());
        _exit(127);
    }
    int status = 0;
    if (child > 0) waitpid(child, &status, 0);
    server.reset();
    std::printf("Demo directory stopped.\n");
    return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
