#pragma once

class QSocketNotifier;

// SIGTERM, SIGHUP and SIGINT end the program as the window's Close does: the boxes and
// windows it shows are closed, innermost first, so the normal teardown runs (the dialog is
// destroyed, a port it held is closed and put back as it was found). Once that is done the
// program ends with the signal, as its default action would, so a shell sees 128 + its number.
// A signal ignored when the program started (nohup, a background job) stays ignored.
class EndingSignals {
public:
    // Needs the GUI application: the signals are read in its event loop.
    EndingSignals();
    ~EndingSignals();
    EndingSignals(const EndingSignals&) = delete;
    EndingSignals& operator=(const EndingSignals&) = delete;

    // The first signal caught, 0 for none.
    int Caught() const { return m_nSignal; }
    // Ends the process with the signal caught, if any; returns when there was none.
    void Reraise() const;

private:
    void Read();

    QSocketNotifier* m_pNotifier = nullptr;
    int m_nSignal = 0;
};
