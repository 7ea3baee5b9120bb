// pelloquin-kb: see kbtool.h. Interrupting an export or an import (Ctrl+C) stops it cleanly:
// the import stores nothing, the export leaves its target as it was. A file size limit makes a
// write fail, as a full disk does, rather than end the program before it can clean up.
#include <clocale>
#include <csignal>
#include <iostream>
#include <string>
#include <vector>

#include "kbtool/kbtool.h"

namespace {

volatile std::sig_atomic_t interrupted = 0;

void Interrupt(int) {
    interrupted = 1;
}

}  // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");  // the user's decimal separator in scores
    std::ios::sync_with_stdio(false);
    std::signal(SIGINT, Interrupt);
    std::signal(SIGTERM, Interrupt);
    std::signal(SIGXFSZ, SIG_IGN);
    const std::vector<std::string> args(argv + 1, argv + argc);
    const int status = RunKbTool(args, std::cout, std::cerr, [] { return interrupted != 0; });
    std::cout.flush();
    if (!std::cout) return status == 0 ? 1 : status;
    return status;
}
