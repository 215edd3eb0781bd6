#include "cli/EndingSignals.h"
#include "cli/SendTool.h"
#include "core/StandardDescriptors.h"
#include "serial/comm.h"

#include <csignal>
#include <iostream>

namespace {

// Puts the held line back as closing would, then ends as the signal ends a program, so that a
// shell tells Ctrl+C from a failure; the descriptor goes with the process.
void OnEndingSignal(int sig) {
    CommRestoreAllPorts();
    std::signal(sig, SIG_DFL);
    std::raise(sig);
}

} // namespace

int main(int argc, char** argv) {
    // Before anything is opened: the port must never become standard input or output.
    unsigned closed = 0;
    if (!OpenStandardDescriptors(&closed))
        return SendTool::kEmptyReply;
    // A reader that went away (| head -n1) ends us as any program, the line put back first.
    sigset_t ending = EndingSignals(false);
    sigaddset(&ending, SIGPIPE);
    struct sigaction action {};
    action.sa_handler = &OnEndingSignal;
    action.sa_mask = ending;
    for (int sig = 1; sig < NSIG; ++sig) {
        struct sigaction before {};
        // A signal the caller ignores (nohup, a background job) stays ignored.
        if (sigismember(&ending, sig) == 1 && sigaction(sig, nullptr, &before) == 0 &&
            before.sa_handler != SIG_IGN)
            sigaction(sig, &action, nullptr);
    }
    std::ios::sync_with_stdio(false); // which sets the streams anew: their state after it
    // Replies with nowhere to go are not asked for: a failure, as on a full disk.
    if (closed & 2u)
        std::cout.setstate(std::ios::badbit);
    return SendTool().Run(argc, argv, std::cin, std::cout, std::cerr);
}
