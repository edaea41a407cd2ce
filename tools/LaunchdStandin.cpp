// The sandboxed machine's service manager. Started in the background by
// `scripts/sandbox create DIR`; stopped by SIGTERM (`scripts/sandbox DIR destroy`).
#include <cstdio>
#include <string>

#include "JobSupervisor.hpp"

int main(int argc, char** argv) {
    if (argc != 2 || argv[1][0] != '/') {
        std::fputs("usage: launchd-standin /absolute/path/of/the/sandbox\n", stderr);
        return 64;
    }
    std::string root = argv[1];
    while (root.size() > 1 && root.back() == '/') {
        root.pop_back();
    }
    vesperon::tools::JobSupervisor supervisor(root);
    return supervisor.run();
}
