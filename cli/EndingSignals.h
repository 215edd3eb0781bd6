#pragma once

#include <csignal>
#include <initializer_list>

// Every signal whose default action ends a program, but the two that cannot be caught and
// SIGPIPE, which each program answers in its own way. withFaults adds the ones a fault raises
// (SIGSEGV from a bug): blocked, they are held back only when sent from outside, since the
// kernel does not hold a fault of the program's own back; a program whose sanitizer reports
// faults leaves them alone.
inline sigset_t EndingSignals(bool withFaults) {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int sig : {SIGHUP, SIGINT, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM, SIGTERM, SIGSTKFLT,
                          SIGXCPU, SIGXFSZ, SIGVTALRM, SIGPROF, SIGIO, SIGPWR})
        sigaddset(&signals, sig);
    if (withFaults)
        for (const int sig : {SIGILL, SIGTRAP, SIGABRT, SIGBUS, SIGFPE, SIGSEGV, SIGSYS})
            sigaddset(&signals, sig);
    for (int sig = SIGRTMIN; sig <= SIGRTMAX; ++sig)
        sigaddset(&signals, sig);
    return signals;
}
