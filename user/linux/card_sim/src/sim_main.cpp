/*
 * zylo_cardsim: the card simulator.
 *   serve [--socket PATH]                 hold the model and answer requests
 *   run [--socket PATH] -- COMMAND ARGS   run a program against the simulator
 *   ctl [--socket PATH] WORDS...          control and inspect the model
 * The socket comes from --socket, else ZYLO_CARDSIM_SOCKET, else the default.
 */
#include <libgen.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "sim_proto.h"
#include "sim_server.h"

static int usage()
{
    fprintf(stderr, "usage: zylo_cardsim serve [--socket PATH]\n"
                    "       zylo_cardsim run [--socket PATH] -- COMMAND [ARGS]\n"
                    "       zylo_cardsim ctl [--socket PATH] COMMAND [ARGS]\n"
                    "(see user/linux/card_sim/README.md)\n");
    return 2;
}

/* The device library beside this program: <bindir>/../lib/libzylo_cardsim_dev.so. */
static std::string preload_path()
{
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof(self) - 1);
    if (n <= 0)
        return "libzylo_cardsim_dev.so";
    self[n] = '\0';
    return std::string(dirname(self)) + "/../lib/libzylo_cardsim_dev.so";
}

static int cmd_run(const std::string &sock, int argc, char **argv)
{
    if (argc < 1)
        return usage();
    std::string lib = preload_path();
    char real[PATH_MAX];
    if (realpath(lib.c_str(), real))
        lib = real;
    if (access(lib.c_str(), R_OK) != 0) {
        fprintf(stderr, "zylo_cardsim: device library not found: %s\n", lib.c_str());
        return 1;
    }
    const char *old = getenv("LD_PRELOAD");
    std::string pre = lib + (old && *old ? std::string(":") + old : "");
    setenv("LD_PRELOAD", pre.c_str(), 1);
    setenv("ZYLO_CARDSIM_SOCKET", sock.c_str(), 1);
    const char *asan = getenv("ASAN_OPTIONS");
    std::string ao = std::string(asan && *asan ? std::string(asan) + ":" : "") + "verify_asan_link_order=0";
    setenv("ASAN_OPTIONS", ao.c_str(), 1);
    execvp(argv[0], argv);
    fprintf(stderr, "zylo_cardsim: cannot run %s: %s\n", argv[0], strerror(errno));
    return 127;
}

int main(int argc, char **argv)
{
    if (argc < 2)
        return usage();
    std::string sub = argv[1];
    const char *env = getenv("ZYLO_CARDSIM_SOCKET");
    std::string sock = env && *env ? env : CARDSIM_DEFAULT_SOCKET;
    int i = 2;
    if (i + 1 < argc && strcmp(argv[i], "--socket") == 0) {
        sock = argv[i + 1];
        i += 2;
    }
    if (sub == "serve")
        return i == argc ? cardsim_serve(sock) : usage();
    if (sub == "run") {
        if (i < argc && strcmp(argv[i], "--") == 0)
            i++;
        return cmd_run(sock, argc - i, argv + i);
    }
    if (sub == "ctl") {
        std::vector<std::string> args(argv + i, argv + argc);
        std::string out;
        int rv = cardsim_ctl(sock, args, &out);
        fputs(out.c_str(), rv == 0 ? stdout : stderr);
        return rv;
    }
    return usage();
}
